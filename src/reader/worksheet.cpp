#include "reader/worksheet.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <numeric>
#include <optional>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/strings/string_view.h"
#include "base/number_text.h"
#include "reader/hyperlinks.h"
#include "reader/merges.h"
#include "reader/shared_formulas.h"
#include "reader/shared_strings.h"
#include "reader/tables.h"
#include "reader/text_rules.h"
#include "xml/attr_values.h"
#include "xml/cell_scan.h"
#include "xml/start_tag.h"
#include "xml/streaming.h"

namespace cmx::reader {
namespace {

using model::CellKey;
using model::CellRef;
using model::CellValue;
using model::MAX_COLS;
using model::MAX_ROWS;
using xml::ParseErrorKind;
using xml::PartStream;
using xml::XmlEvent;

using Status = Result<void, SpreadsheetParseError>;

Unexpected<SpreadsheetParseError> malformed(std::string_view what, std::string_view payload) {
  std::string text(what);
  text.append(payload);
  return unexpected(SpreadsheetParseError::malformed(std::move(text)));
}

Unexpected<SpreadsheetParseError> fail(ParseErrorKind kind) {
  return unexpected(SpreadsheetParseError::of(kind));
}

// The cell types whose values are read differently; everything else is a
// number.
enum class CellType : uint8_t { Number, Bool, Error, SharedText, Text, Inline };

CellType classify_cell_type(std::optional<std::string_view> type) {
  if (!type) return CellType::Number;
  if (type->size() == 1) {
    switch ((*type)[0]) {
      case 's':
        return CellType::SharedText;
      case 'b':
        return CellType::Bool;
      case 'e':
        return CellType::Error;
      default:
        return CellType::Number;
    }
  }
  if (*type == "str") return CellType::Text;
  if (*type == "inlineStr") return CellType::Inline;
  return CellType::Number;
}

// "B7": one to three capital letters, then a row number without a leading
// zero, inside the grid, into `out`. Exactly what parse_cell_ref reads from
// such a text; other texts are left to it (false).
bool plain_cell_key(std::string_view text, CellKey& out) {
  size_t pos = 0;
  uint32_t col = 0;
  while (pos < text.size() && pos < 3 && text[pos] >= 'A' && text[pos] <= 'Z') {
    col = col * 26 + static_cast<uint32_t>(text[pos] - 'A' + 1);
    ++pos;
  }
  if (pos == 0 || pos == text.size() || text.size() - pos > 7 || text[pos] == '0') return false;
  uint32_t row = 0;
  for (; pos < text.size(); ++pos) {
    const char ch = text[pos];
    if (ch < '0' || ch > '9') return false;
    row = row * 10 + static_cast<uint32_t>(ch - '0');
  }
  if (col > MAX_COLS || row > MAX_ROWS) return false;
  out = CellKey{row - 1, col - 1};
  return true;
}

// Digits only, at most 18 of them: the value, which cannot overflow.
std::optional<uint64_t> plain_digits(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (const char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(ch - '0');
  }
  return value;
}

// A cell's style index as the model holds it. There UINT32_MAX marks a cell
// without style, so a file's index of UINT32_MAX is kept one below: both lie
// far past any style sheet read (at most kMaxStyleRecords cell formats), so
// opening the workbook refuses it as an invalid index, as it always has.
constexpr uint32_t model_style_index(uint32_t index) {
  return index == model::OptionalStyleIndex::kAbsent ? index - 1 : index;
}

// "-12.25" and the like, with at most 15 digits: the digits make an integer
// below 2^53 and the point a power of ten below 10^22, both exact, so one
// division rounds exactly as a full decimal conversion does. Other texts are
// left to the full parser.
std::optional<double> plain_decimal(std::string_view text) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++pos;
  uint64_t digits = 0;
  size_t count = 0;
  size_t int_digits = 0;
  size_t frac_digits = 0;
  bool point = false;
  for (; pos < text.size(); ++pos) {
    const char ch = text[pos];
    if (ch >= '0' && ch <= '9') {
      digits = digits * 10 + static_cast<uint64_t>(ch - '0');
      ++count;
      (point ? frac_digits : int_digits) += 1;
    } else if (ch == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (int_digits == 0 || (point && frac_digits == 0) || count > 15) return std::nullopt;
  const double magnitude =
      frac_digits == 0 ? static_cast<double>(digits) : static_cast<double>(digits) / kPowers[frac_digits];
  return negative ? -magnitude : magnitude;
}

// A `col` element's effect on widths: later elements replace earlier ones.
struct ColumnRun {
  uint32_t first = 0;  // zero-based, inclusive
  uint32_t last = 0;
  std::optional<double> model_width;
  std::optional<double> source_width;
};

// Writes the runs' widths, later runs winning. Walking the runs backwards and
// skipping columns already written keeps the work at one write per column,
// however many runs cover the whole sheet.
template <typename Map>
void apply_column_runs(const std::vector<ColumnRun>& runs,
                       std::optional<double> ColumnRun::*field, Map& out) {
  std::vector<uint32_t> next_free(MAX_COLS + 1);
  std::iota(next_free.begin(), next_free.end(), 0u);
  auto find = [&](uint32_t col) {
    uint32_t root = col;
    while (next_free[root] != root) root = next_free[root];
    while (next_free[col] != root) col = std::exchange(next_free[col], root);
    return root;
  };
  std::vector<double> widths(MAX_COLS);
  std::vector<bool> written(MAX_COLS);
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    const std::optional<double>& width = (*run).*field;
    if (!width) continue;
    for (uint32_t col = find(run->first); col <= run->last; col = find(col + 1)) {
      widths[col] = *width;
      written[col] = true;
      next_free[col] = col + 1;
    }
  }
  for (uint32_t col = 0; col < MAX_COLS; ++col)
    if (written[col]) out.insert_or_assign(col, widths[col]);
}

class SheetReader {
 public:
  // `input` is the part's bytes, or a ByteSource and a window to read it in.
  template <typename... Input>
  SheetReader(std::string_view name, std::span<const SharedString> shared_strings, const opc::RelationshipMap& rels,
              SharedStringCells& string_cells, SourceDimensions& dimensions, CellTextNotes& notes,
              bool windowed, Input&&... input)
      : stream_(std::forward<Input>(input)...),
        windowed_(windowed),
        strings_(shared_strings),
        rels_(rels),
        string_cells_(string_cells),
        dimensions_(dimensions),
        notes_(notes) {
    sheet_.name = std::string(name);
  }

  Result<model::SheetModel, SpreadsheetParseError> run() {
    while (true) {
      CMX_ASSIGN_OR_RETURN(const bool read_whole_cell, read_plain_cell());
      if (read_whole_cell) continue;
      CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream_.next());
      if (event == XmlEvent::StartTag) {
        if (stream_.depth() == 2 && !sheet_data_seen_ && stream_.local_name() == "sheetData") {
          sheet_data_seen_ = true;
          in_sheet_data_ = true;
          sheet_data_start_ = stream_.reader().offset_after();
          sheet_data_declarations_ = stream_.declaring_tags();
          stream_.hole_from(sheet_data_start_);
        }
        CMX_TRY(on_start(stream_.local_name()));
      } else if (event == XmlEvent::EndTag) {
        if (in_sheet_data_ && stream_.depth() == 1) end_sheet_data();
        const std::string_view name = stream_.local_name();
        if (name == "c") {
          CMX_TRY(end_cell());
        } else if (name == "row") {
          in_row_ = false;
        }
      } else if (event == XmlEvent::Eof) {
        CMX_TRY(finish());
        if (windowed_ && (!sheet_data_seen_ || dimensions_.sheet_data_content)) {
          dimensions_.part_outside_cells = stream_.take_kept();
        }
        return std::move(sheet_);
      }
    }
  }

 private:
  Status on_start(std::string_view name) {
    switch (name.size()) {
      case 1:
        if (name[0] == 'c') return start_cell();
        if (name[0] == 'v') return read_value();
        if (name[0] == 'f') return read_formula();
        return {};
      case 2:
        return name == "is" ? read_inline() : Status();
      case 3:
        if (name == "row") return start_row();
        if (name == "col") return read_column();
        return {};
      default:
        if (name == "pane") return read_pane();
        if (name == "mergeCell") return read_merge();
        if (name == "hyperlink") return read_hyperlink();
        if (name == "sheetFormatPr") return read_sheet_format();
        return {};
    }
  }

  // Cells are most of a sheet, so their three attributes are found in one
  // pass over the tag, and UTF-8 is checked only for a value that does not
  // parse (an ASCII value that parses is valid UTF-8).
  Status start_cell() {
    if (++cell_count_ > MAX_SHEET_CELLS) return fail(ParseErrorKind::TooManyCells);
    const xml::XmlAttribute* ref = nullptr;
    const xml::XmlAttribute* style = nullptr;
    const xml::XmlAttribute* type = nullptr;
    for (const xml::XmlAttribute& attr : stream_.reader().attributes()) {
      const std::string_view local = xml::local_name(attr.name);
      if (local.size() != 1) continue;
      if (local[0] == 'r' && !ref) ref = &attr;
      if (local[0] == 's' && !style) style = &attr;
      if (local[0] == 't' && !type) type = &attr;
    }
    if (ref) {
      const std::string_view text = xml::XmlPullReader::attribute_value(*ref, scratch_);
      auto cell = model::parse_cell_ref(text);
      if (!cell.has_value()) {
        CMX_TRY(xml::check_utf8(text));
        return malformed("bad cell ref ", text);
      }
      pos_ = CellKey{cell->row, cell->col};
      next_col_ = cell->col;
    } else {
      pos_ = CellKey{in_row_ ? current_row_ : 0, next_col_};
      // Counting past column XFD would put the cell outside the grid.
      if (pos_.col >= MAX_COLS)
        return malformed("index out of range ", model::format_cell_ref(CellRef{pos_.row, pos_.col}));
    }
    has_style_ = false;
    if (style) {
      const std::string_view text = xml::XmlPullReader::attribute_value(*style, scratch_);
      const std::optional<uint32_t> index = xml::parse_u32_attribute(text);
      if (!index) CMX_TRY(xml::check_utf8(text));
      has_style_ = index.has_value();
      style_ = model_style_index(index.value_or(0));
    }
    type_ = CellType::Number;
    if (type) {
      const std::string_view text = xml::XmlPullReader::attribute_value(*type, scratch_);
      type_ = classify_cell_type(text);
      if (type_ == CellType::Number) CMX_TRY(xml::check_utf8(text));
    }
    pending_ = true;
    has_value_text_ = false;
    has_inline_ = false;
    inline_rich_ = false;
    has_formula_ = false;
    return {};
  }

  // The common cell shapes (xml/cell_scan.h) are recognised straight from the
  // bytes and fed through the same steps as the event path. Anything else
  // (other attributes or spacing, references, a formula with attributes, a
  // value that does not parse) leaves the input untouched for the event path,
  // so results and errors are the same either way. Returns whether it read a
  // cell.
  Result<bool, SpreadsheetParseError> read_plain_cell() {
    xml::PlainCell& plain = plain_;
    if (!xml::scan_plain_cell_wide(stream_.unread(), plain)) return false;
    if (stream_.depth() + plain.depth > xml::MAX_STREAM_DEPTH) return false;
    if (!plain.has_ref) return false;
    CellKey key;
    if (!plain_cell_key(plain.ref, key)) {
      const auto cell = model::parse_cell_ref(plain.ref);
      if (!cell.has_value()) return false;
      key = CellKey{cell->row, cell->col};
    }
    uint32_t style_index = 0;
    if (plain.has_style) {
      const std::optional<uint64_t> parsed = plain_digits(plain.style);
      if (!parsed || *parsed > UINT32_MAX) return false;
      style_index = model_style_index(static_cast<uint32_t>(*parsed));
    }

    if (++cell_count_ > MAX_SHEET_CELLS) return fail(ParseErrorKind::TooManyCells);
    pos_ = key;
    next_col_ = key.col;
    has_style_ = plain.has_style;
    style_ = style_index;
    type_ = plain.has_type ? classify_cell_type(plain.type) : CellType::Number;
    pending_ = true;
    has_value_text_ = plain.has_value;
    value_ = plain.value;
    has_inline_ = plain.has_inline;
    inline_rich_ = false;
    if (plain.has_inline) {
      // Characters XML cannot carry travel as "_xHHHH_" in string items.
      if (plain.inline_text.find('_') != std::string_view::npos) {
        inline_text_ = unescape_xstring(plain.inline_text);
        inline_ = inline_text_;
      } else {
        inline_ = plain.inline_text;
      }
    }
    has_formula_ = plain.has_formula;
    if (plain.has_formula) {
      if (!formulas_.dependents.empty()) remove_shared_dependent(formulas_, pos_.row, pos_.col);
      formula_ = plain.formula;
    }
    CMX_TRY(end_cell());
    stream_.skip_balanced(plain.length);
    return true;
  }

  void end_sheet_data() {
    in_sheet_data_ = false;
    const size_t end = stream_.reader().offset_before();
    stream_.hole_to(end);
    if (stream_.declaring_tags() == sheet_data_declarations_ && end >= sheet_data_start_) {
      dimensions_.sheet_data_content = xml::PartTextSpan{sheet_data_start_, end - sheet_data_start_};
    }
  }

  // `v`, `is` and `f` outside a cell are read and dropped.
  Status read_value() {
    CMX_TRY(xml::read_element_text_into(stream_, pending_ ? value_text_ : scratch_));
    has_value_text_ = pending_;
    if (pending_) value_ = value_text_;
    return {};
  }

  Status read_inline() {
    CMX_ASSIGN_OR_RETURN(const bool rich,
                         read_string_item_text(stream_, pending_ ? inline_text_ : scratch_));
    if (pending_) {
      inline_rich_ = rich;
      has_inline_ = true;
      inline_ = inline_text_;
    }
    return {};
  }

  Status read_formula() {
    enum class FormulaKind : uint8_t { Normal, Shared, Array };
    FormulaKind kind = FormulaKind::Normal;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> type, stream_.attribute("t"));
    if (type == "shared") kind = FormulaKind::Shared;
    if (type == "array") kind = FormulaKind::Array;
    std::optional<std::string_view> ref;
    std::optional<std::string_view> si;
    if (kind != FormulaKind::Normal && pending_) {
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> ref_view, stream_.attribute("ref"));
      if (ref_view) ref = formula_ref_.assign(*ref_view);
      CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> si_view, stream_.attribute("si"));
      if (si_view) si = formula_si_.assign(*si_view);
    }
    if (!pending_) return xml::read_element_text_into(stream_, scratch_);
    CMX_TRY(xml::read_element_text_into(stream_, formula_text_));
    formula_ = formula_text_;

    if (kind == FormulaKind::Shared) {
      CMX_TRY(register_shared_formula(formulas_, pos_.row, pos_.col, formula_text_, si, ref));
    } else {
      remove_shared_dependent(formulas_, pos_.row, pos_.col);
    }
    if (kind == FormulaKind::Array && ref) {
      auto range = model::parse_range(*ref);
      if (range.has_value()) {
        const uint64_t cells = uint64_t{range->end.row - range->start.row + 1} *
                               (range->end.col - range->start.col + 1);
        if (cells <= MAX_ARRAY_FORMULA_CELLS && range->start.row <= pos_.row &&
            pos_.row <= range->end.row && range->start.col <= pos_.col &&
            pos_.col <= range->end.col)
          sheet_.array_ranges.insert_or_assign(pos_, *range);
      }
    }
    has_formula_ = true;
    return {};
  }

  // The cached value of the pending cell; Empty when nothing usable.
  CellValue cell_value() {
    switch (type_) {
      case CellType::Bool:
        return CellValue::boolean(has_value_text_ && value_ == "1");
      case CellType::Error: {
        if (!has_value_text_) return CellValue::text(SharedString());
        auto code = xml::parse_error_literal(value_);
        return code ? CellValue::error(*code) : CellValue::text(texts_.make(value_));
      }
      case CellType::SharedText: {
        if (!has_value_text_) return {};
        std::optional<uint64_t> index = plain_digits(value_);
        if (!index) index = parse_plus_digits(trim_white_space(value_), UINT64_MAX);
        if (!index || *index >= strings_.size()) return {};
        string_cells_.insert_or_assign(string_cells_.end(), pos_, *index);
        return CellValue::text(strings_[*index]);
      }
      case CellType::Text:
        return CellValue::text(has_value_text_ ? intern(value_) : SharedString());
      case CellType::Inline:
        return has_inline_ ? CellValue::text(intern(inline_)) : CellValue();
      case CellType::Number:
        break;
    }
    return {};
  }

  // A number cell's value; Malformed "bad number" for a text that is none.
  Result<CellValue, SpreadsheetParseError> number_value() {
    if (!has_value_text_) return CellValue();
    if (const std::optional<double> plain = plain_decimal(value_)) return CellValue::number(*plain);
    const std::string_view trimmed = trim_white_space(value_);
    if (trimmed.empty()) return CellValue();
    const std::optional<double> number = xml::attr_float(trimmed);
    if (!number) return malformed("bad number ", value_);
    // The model's numbers are finite: a cached inf or nan reads as #NUM!.
    if (!std::isfinite(*number)) return CellValue::error(model::CellErrorCode::Num);
    return CellValue::number(*number);
  }

  // Texts written in the cells themselves repeat as often as shared strings
  // do; equal ones share one allocation. The table is bounded, so a sheet of
  // distinct texts stops paying for lookups once it is full.
  SharedString intern(std::string_view text) {
    if (interning_off_ || text.size() > kMaxInternedText) return texts_.make(text);
    const auto found = interned_.find(absl::string_view(text.data(), text.size()));
    if (found != interned_.end()) return found->second;
    SharedString made = texts_.make(text);
    if (interned_.size() >= kMaxInternedTexts) {
      interning_off_ = true;
      return made;
    }
    interned_.emplace(absl::string_view(made.data(), made.size()), made);
    return made;
  }

  Status end_cell() {
    if (pending_) {
      pending_ = false;
      if (has_formula_ && !has_value_text_ && !has_inline_) notes_.uncached_formula_cells.insert(pos_);
      if (type_ == CellType::Inline && has_inline_ && inline_rich_)
        notes_.rich_inline_strings.insert_or_assign(pos_, std::string(inline_));
      CellValue value;
      if (type_ == CellType::Number) {
        CMX_ASSIGN_OR_RETURN(value, number_value());
      } else {
        value = cell_value();
      }
      if (!value.is_empty() || has_formula_ || has_style_) {
        OptionalSharedString formula;
        if (has_formula_) formula.emplace(texts_.make(formula_));
        const model::OptionalStyleIndex style = has_style_ ? model::OptionalStyleIndex(style_) : std::nullopt;
        // Cells mostly arrive in order: one past the last goes straight to
        // the end without a lookup; any other replaces or joins as usual.
        if (!stored_any_ || last_stored_ < pos_) {
          sheet_.cells.emplace_hint(sheet_.cells.end(), pos_,
                                    model::SheetCell{std::move(value), std::move(formula), style});
          stored_any_ = true;
          last_stored_ = pos_;
        } else {
          sheet_.cells.insert_or_assign(pos_, model::SheetCell{std::move(value), std::move(formula), style});
        }
      }
    }
    ++next_col_;
    return {};
  }

  Status start_row() {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> ref, stream_.attribute("r"));
    if (ref) {
      const std::optional<uint32_t> index = xml::parse_u32_attribute(*ref);
      if (!index) return malformed("bad index ", *ref);
      if (*index == 0 || *index > MAX_ROWS) return malformed("index out of range ", *ref);
      current_row_ = *index - 1;
    } else if (seen_row_) {
      // Counting past the last row would put the row outside the grid.
      if (current_row_ + 1 >= MAX_ROWS)
        return malformed("index out of range ", format_u64(uint64_t{current_row_} + 2));
      ++current_row_;
    } else {
      current_row_ = 0;
    }
    seen_row_ = true;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> height_text, stream_.attribute("ht"));
    const std::optional<double> height = xml::attr_float(height_text);
    if (height) dimensions_.row_heights.insert_or_assign(current_row_, *height);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> hidden, stream_.attribute("hidden"));
    if (xml::attr_bool(hidden)) {
      sheet_.row_heights.insert_or_assign(current_row_, 0.0);
    } else if (height) {
      sheet_.row_heights.insert_or_assign(current_row_, *height);
    }
    in_row_ = true;
    next_col_ = 0;
    return {};
  }

  Status read_column() {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> hidden_text, stream_.attribute("hidden"));
    const bool hidden = xml::attr_bool(hidden_text);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> width_text, stream_.attribute("width"));
    const std::optional<double> width = xml::attr_float(width_text);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> style_text, stream_.attribute("style"));
    const std::optional<uint32_t> style =
        style_text ? xml::parse_u32_attribute(*style_text) : std::nullopt;
    if (!style && !hidden && !width) return {};
    if (column_entries_ >= MAX_COLUMN_STYLES) return fail(ParseErrorKind::TooManyColumnStyles);
    ++column_entries_;

    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> min_text, stream_.attribute("min"));
    const uint32_t min = (min_text ? xml::parse_u32_attribute(*min_text) : std::nullopt).value_or(1);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> max_text, stream_.attribute("max"));
    const uint32_t max = (max_text ? xml::parse_u32_attribute(*max_text) : std::nullopt).value_or(min);
    const uint32_t first = std::clamp<uint32_t>(min, 1, MAX_COLS);
    const uint32_t last = max < first ? first : std::min<uint32_t>(max, MAX_COLS);

    if (style) sheet_.column_styles.push_back(model::ColumnStyle{first - 1, last - 1, *style});
    ColumnRun run{first - 1, last - 1, std::nullopt, width};
    if (hidden) {
      run.model_width = 0.0;
    } else if (width) {
      run.model_width = std::isnan(*width) ? 0.0 : std::max(*width, 0.0);
    }
    if (run.model_width) column_runs_.push_back(run);
    return {};
  }

  Status read_pane() {
    if (sheet_.freeze_pane) return {};
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> state, stream_.attribute("state"));
    if (state != "frozen" && state != "frozenSplit") return {};
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> y_split, stream_.attribute("ySplit"));
    const uint32_t rows = xml::attr_clamped_count(y_split, MAX_ROWS);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> x_split, stream_.attribute("xSplit"));
    const uint32_t cols = xml::attr_clamped_count(x_split, MAX_COLS);
    if (rows == 0 && cols == 0) return {};
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> top_left, stream_.attribute("topLeftCell"));
    const std::optional<CellRef> cell = xml::attr_cell_ref(top_left);
    sheet_.freeze_pane = model::FreezePane{
        rows, cols,
        cell ? *cell : CellRef{std::min(rows, MAX_ROWS - 1), std::min(cols, MAX_COLS - 1)}};
    return {};
  }

  Status read_merge() {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> ref, stream_.attribute("ref"));
    if (!ref) return {};
    auto range = model::parse_range(*ref);
    if (!range.has_value()) return malformed("bad merge ref ", *ref);
    sheet_.merges.push_back(*range);
    return {};
  }

  Status read_hyperlink() {
    if (++hyperlink_count_ > MAX_SHEET_HYPERLINKS) return fail(ParseErrorKind::TooManyHyperlinks);
    CMX_ASSIGN_OR_RETURN(std::optional<model::SheetHyperlink> link,
                         read_sheet_hyperlink(stream_, rels_));
    if (link) sheet_.hyperlinks.push_back(std::move(*link));
    return {};
  }

  Status read_sheet_format() {
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> height_text,
                         stream_.attribute("defaultRowHeight"));
    const std::optional<double> height = xml::attr_float(height_text);
    sheet_.default_row_height.reset();
    if (height && std::isfinite(*height) && *height >= 0.0 && *height <= 409.5)
      sheet_.default_row_height = *height;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> custom, stream_.attribute("customHeight"));
    sheet_.custom_height = xml::attr_bool(custom);
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> zero, stream_.attribute("zeroHeight"));
    sheet_.zero_height = xml::attr_bool(zero);
    return {};
  }

  Status finish() {
    CMX_TRY(expand_shared_formulas(formulas_, sheet_.cells, texts_));
    sheet_.merges = drop_overlapping_merges(sheet_.merges);
    if (!column_runs_.empty()) {
      apply_column_runs(column_runs_, &ColumnRun::model_width, sheet_.col_widths);
      apply_column_runs(column_runs_, &ColumnRun::source_width, dimensions_.column_widths);
    }
    pending_ = false;
    return {};
  }

  PartStream stream_;
  bool windowed_;
  std::span<const SharedString> strings_;
  const opc::RelationshipMap& rels_;
  SharedStringCells& string_cells_;
  SourceDimensions& dimensions_;
  CellTextNotes& notes_;
  model::SheetModel sheet_;

  // The first sheetData under the root: where its content starts, and the
  // declaring tags met before it.
  bool sheet_data_seen_ = false;
  bool in_sheet_data_ = false;
  size_t sheet_data_start_ = 0;
  uint64_t sheet_data_declarations_ = 0;

  uint64_t cell_count_ = 0;
  uint64_t hyperlink_count_ = 0;
  uint64_t column_entries_ = 0;
  uint32_t current_row_ = 0;
  bool seen_row_ = false;
  bool in_row_ = false;
  uint32_t next_col_ = 0;

  // The pending cell, from its `c` start tag to its end tag. The text
  // buffers keep their capacity from cell to cell.
  bool pending_ = false;
  CellKey pos_;
  // The greatest key stored so far.
  bool stored_any_ = false;
  CellKey last_stored_;
  // The style apart from its flag: an optional member written in two parts
  // and read back whole stalled store forwarding once per cell.
  uint32_t style_ = 0;
  bool has_style_ = false;
  CellType type_ = CellType::Number;
  bool has_value_text_ = false;
  bool has_inline_ = false;
  bool inline_rich_ = false;
  bool has_formula_ = false;
  std::string value_text_;
  // The pending cell's value text: value_text_, or the bytes of the part
  // itself for a cell read directly.
  std::string_view value_;
  std::string inline_text_;
  std::string formula_text_;
  // The pending cell's inline text and formula, in the buffers above or in
  // the part itself.
  std::string_view inline_;
  std::string_view formula_;
  std::string formula_ref_;
  std::string formula_si_;
  std::string scratch_;

  SharedFormulaTable formulas_;
  std::vector<ColumnRun> column_runs_;
  xml::PlainCell plain_;

  static constexpr size_t kMaxInternedText = 64;
  static constexpr size_t kMaxInternedTexts = 65536;
  // Keys view the storage of their values, which never moves. Their own view
  // type hashes short texts inline.
  absl::flat_hash_map<absl::string_view, SharedString> interned_;
  // The sheet's own texts (formulas, texts in cells), made in bulk.
  TextArena texts_;
  bool interning_off_ = false;
};

}  // namespace

Result<model::SheetModel, SpreadsheetParseError> read_worksheet(
    std::string_view name, std::string_view bytes, std::span<const SharedString> shared_strings,
    const opc::RelationshipMap& rels, SharedStringCells& string_cells, SourceDimensions& dimensions,
    CellTextNotes& notes) {
  SheetReader reader(name, shared_strings, rels, string_cells, dimensions, notes, false, bytes);
  return reader.run();
}

Result<model::SheetModel, SpreadsheetParseError> read_worksheet(
    std::string_view name, ByteSource& source, std::span<const SharedString> shared_strings,
    const opc::RelationshipMap& rels, SharedStringCells& string_cells, SourceDimensions& dimensions,
    CellTextNotes& notes, size_t window) {
  SheetReader reader(name, shared_strings, rels, string_cells, dimensions, notes, true, source, window);
  return reader.run();
}

}  // namespace cmx::reader
