#include "ops/formula_rewrite.h"

#include <deque>

#include "absl/container/flat_hash_map.h"
#include "base/unicode.h"
#include "formula/parser.h"
#include "formula/printer.h"
#include "model/address.h"
#include "ops/sheet_qualifiers.h"

namespace cmx::ops {

namespace {

using formula::Expr;
using formula::ExprPtr;
namespace node = formula::node;

// Calls `visit` on every node of the tree until it returns true.
template <typename Visit>
bool any_node(const Expr& expr, const Visit& visit) {
  if (visit(expr)) return true;
  switch (expr.kind()) {
    case Expr::Kind::Unary: return any_node(*expr.as<node::Unary>().operand, visit);
    case Expr::Kind::Percent: return any_node(*expr.as<node::Percent>().operand, visit);
    case Expr::Kind::Binary: {
      const auto& binary = expr.as<node::Binary>();
      return any_node(*binary.left, visit) || any_node(*binary.right, visit);
    }
    case Expr::Kind::RangeOp: {
      const auto& op = expr.as<node::RangeOp>();
      return any_node(*op.left, visit) || any_node(*op.right, visit);
    }
    case Expr::Kind::Call:
      for (const ExprPtr& arg : expr.as<node::Call>().args) {
        if (any_node(*arg, visit)) return true;
      }
      return false;
    case Expr::Kind::Array:
      for (const ExprPtr& element : expr.as<node::Array>().elements) {
        if (any_node(*element, visit)) return true;
      }
      return false;
    default:
      return false;
  }
}

bool holds_table_ref(const Expr& expr) {
  return any_node(expr, [](const Expr& e) { return e.kind() == Expr::Kind::TableRef; });
}

// Parsed trees by formula text for one call, the oldest dropped first.
class ParseCache {
 public:
  Result<ExprPtr, formula::FormulaError> parse(std::string_view text) {
    if (auto it = trees_.find(absl::string_view(text.data(), text.size())); it != trees_.end()) return it->second;
    auto parsed = formula::parse_formula(text);
    if (!parsed) return parsed;
    if (order_.size() == kCapacity) {
      trees_.erase(order_.front());
      order_.pop_front();
    }
    order_.emplace_back(text);
    trees_.emplace(order_.back(), *parsed);
    return parsed;
  }

 private:
  static constexpr size_t kCapacity = 1024;
  absl::flat_hash_map<std::string, ExprPtr> trees_;
  std::deque<std::string> order_;
};

std::string upper_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

// Length of the error literal at `pos`, or 0.
size_t error_literal_at(std::string_view text, size_t pos) {
  static constexpr std::string_view kErrors[] = {"#DIV/0!", "#N/A",   "#NAME?",  "#NULL!", "#NUM!",
                                                 "#REF!",   "#VALUE!", "#SPILL!", "#CALC!"};
  const std::string upper = upper_ascii(text.substr(pos, 8));
  for (std::string_view error : kErrors) {
    if (std::string_view(upper).starts_with(error)) return error.size();
  }
  return 0;
}

// One bound of a whole-row or whole-column range: "$" flag, and either a
// column (letters) or a zero-based row.
struct LineBound {
  bool rows = false;
  uint32_t index = 0;
  bool absolute = false;
};

std::optional<LineBound> parse_line_bound(std::string_view text) {
  LineBound bound;
  if (!text.empty() && text[0] == '$') {
    bound.absolute = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const bool letters = (text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z');
  if (letters) {
    uint64_t col = 0;
    for (char c : text) {
      const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      if (upper < 'A' || upper > 'Z') return std::nullopt;
      col = col * 26 + static_cast<uint64_t>(upper - 'A' + 1);
      if (col > model::MAX_COLS) return std::nullopt;
    }
    bound.index = static_cast<uint32_t>(col - 1);
    return bound;
  }
  if (text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t row = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    row = row * 10 + static_cast<uint64_t>(c - '0');
    if (row > model::MAX_ROWS) return std::nullopt;
  }
  if (row == 0) return std::nullopt;
  bound.rows = true;
  bound.index = static_cast<uint32_t>(row - 1);
  return bound;
}

std::optional<LineRange> parse_line_body(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto start = parse_line_bound(text.substr(0, colon));
  auto end = parse_line_bound(text.substr(colon + 1));
  if (!start || !end || start->rows != end->rows) return std::nullopt;
  if (start->index > end->index) std::swap(start, end);
  return LineRange{start->rows, start->index, end->index, start->absolute, end->absolute};
}

std::string format_line_range(const LineRange& line) {
  auto bound = [&](uint32_t index, bool absolute) {
    std::string out = absolute ? "$" : "";
    out += line.rows ? std::to_string(uint64_t{index} + 1) : model::column_letters(index);
    return out;
  };
  return bound(line.start, line.abs_start) + ":" + bound(line.end, line.abs_end);
}

struct LineText {
  std::string prefix;  // the qualifier with its "!", as written
  std::optional<std::string> qualifier;
  LineRange range;
};

// A whole piece that is a whole-row or whole-column range, maybe qualified.
std::optional<LineText> parse_line_range_text(std::string_view text) {
  LineText out;
  if (auto token = read_name_token(text, 0); token && token->end < text.size() && text[token->end] == '!') {
    out.prefix = std::string(text.substr(0, token->end + 1));
    out.qualifier = token->name;
    text.remove_prefix(token->end + 1);
  }
  auto range = parse_line_body(text);
  if (!range) return std::nullopt;
  out.range = *range;
  return out;
}

bool on_axis(const LineRange& range, const StructuralShift& shift) { return range.rows == shifts_rows(shift.kind); }

enum class BodyKind : uint8_t { Name, Cell, Range, Line, NotReference };

struct Candidate {
  size_t start = 0;       // the at sign or the qualifier
  size_t body = 0;        // where the reference itself begins
  size_t body_end = 0;    // without the spill mark
  size_t end = 0;         // after the spill mark
  std::optional<std::string> qualifier;
  bool spilled = false;
};

class PieceScanner {
 public:
  PieceScanner(std::string_view piece, const StructuralShift& shift, const ReferenceTest& test, bool no_home_sheet,
               const NameSet& names)
      : piece_(piece), shift_(shift), test_(test), no_home_sheet_(no_home_sheet), names_(names) {}

  RemapResult run() {
    size_t pos = 0;
    while (pos < piece_.size()) {
      const char c = piece_[pos];
      if (c == '"') {
        pos = skip_text_literal(piece_, pos);
        continue;
      }
      if (c == '#') {
        const size_t length = error_literal_at(piece_, pos);
        if (length == 0) return unsafe();
        pos += length;
        continue;
      }
      if (c == '[' || c == ']') return unsafe();
      if (c == '{') {
        const size_t close = piece_.find('}', pos);
        if (close == std::string_view::npos) return unsafe();
        pos = close + 1;
        continue;
      }
      std::optional<size_t> next = step(pos);
      if (!next) return unsafe();
      pos = *next;
    }
    if (!changed_) return {RemapVerdict::Unchanged, {}};
    out_.append(piece_.substr(copied_));
    return {RemapVerdict::Rewritten, std::move(out_)};
  }

  bool ambiguous() const { return ambiguous_; }

 private:
  // Reads one candidate at `pos`: absent `ok` means Unsafe; a result with
  // `skip_to` set means there was no reference to handle.
  struct Read {
    bool ok = true;
    std::optional<Candidate> candidate;
    size_t skip_to = 0;
  };

  Read read_candidate(size_t pos) const {
    Candidate candidate;
    candidate.start = pos;
    size_t p = pos;
    if (piece_[p] == '@') ++p;
    auto first = read_name_token(piece_, p);
    if (!first) return {true, std::nullopt, p == pos ? pos + char_length(piece_, pos) : p};
    std::optional<NameToken> body = first;
    if (first->end < piece_.size() && piece_[first->end] == '!') {
      candidate.qualifier = first->name;
      p = first->end + 1;
    } else if (first->end < piece_.size() && piece_[first->end] == ':' && !is_cell_token(*first)) {
      auto second = read_name_token(piece_, first->end + 1);
      if (second && second->end < piece_.size() && piece_[second->end] == '!') {
        candidate.qualifier = first->name + ":" + second->name;
        p = second->end + 1;
      }
    }
    if (candidate.qualifier) {
      if (p < piece_.size() && piece_[p] == '#' && error_literal_at(piece_, p) > 0) {
        return {true, std::nullopt, p + error_literal_at(piece_, p)};
      }
      body = read_name_token(piece_, p);
      if (!body) return {false, std::nullopt, 0};
    } else {
      const size_t next = skip_blanks(piece_, body->end);
      if (!body->quoted && next < piece_.size() && piece_[next] == '(') return {true, std::nullopt, body->end};
    }
    if (body->quoted) return {false, std::nullopt, 0};
    candidate.body = p;
    size_t end = body->end;
    if (end < piece_.size() && piece_[end] == ':') {
      auto further = read_name_token(piece_, end + 1);
      if (further && !further->quoted) {
        const size_t after = skip_blanks(piece_, further->end);
        const bool qualifier = further->end < piece_.size() && piece_[further->end] == '!';
        const bool call = after < piece_.size() && piece_[after] == '(';
        if (!qualifier && !call) end = further->end;
      }
    }
    // "#" belongs to name tokens, so a spill mark ends the body's token.
    candidate.body_end = end;
    if (end > p + 1 && piece_[end - 1] == '#') {
      candidate.spilled = true;
      candidate.body_end = end - 1;
    }
    candidate.end = end;
    return {true, candidate, end};
  }

  static bool is_cell_token(const NameToken& token) {
    return !token.quoted && model::parse_cell_ref(upper_ascii(token.name)).has_value();
  }

  BodyKind classify(std::string_view body) const {
    if (names_.contains(unicode::to_lower(body))) return BodyKind::Name;
    const std::string upper = upper_ascii(body);
    if (model::parse_cell_ref(upper)) return BodyKind::Cell;
    if (body.find(':') != std::string_view::npos && model::parse_range(upper)) return BodyKind::Range;
    if (parse_line_body(body)) return BodyKind::Line;
    if (upper == "TRUE" || upper == "FALSE" || (!body.empty() && body[0] >= '0' && body[0] <= '9')) {
      return BodyKind::NotReference;
    }
    return BodyKind::Name;
  }

  void replace(size_t start, size_t end, std::string_view text) {
    out_.append(piece_.substr(copied_, start - copied_));
    out_.append(text);
    copied_ = end;
    changed_ = true;
  }

  std::string prefix(const Candidate& candidate) const {
    return std::string(piece_.substr(candidate.start, candidate.body - candidate.start));
  }

  // Handles the candidate at `pos`; gives where to go on, or absent for Unsafe.
  std::optional<size_t> step(size_t pos) {
    Read first = read_candidate(pos);
    if (!first.ok) return std::nullopt;
    if (!first.candidate) return first.skip_to;
    const Candidate& a = *first.candidate;
    // A second candidate after ":" makes a pair (A1 : B2, Sheet1!A1:Sheet1!B2).
    size_t q = skip_blanks(piece_, a.end);
    if (q < piece_.size() && piece_[q] == ':') {
      const size_t r = skip_blanks(piece_, q + 1);
      if (r < piece_.size() && !(piece_[r] == '#' && error_literal_at(piece_, r) > 0)) {
        Read second = read_candidate(r);
        if (!second.ok) return std::nullopt;
        if (second.candidate) {
          if (!pair(a, *second.candidate)) return std::nullopt;
          return second.candidate->end;
        }
      }
    }
    if (!single(a)) return std::nullopt;
    return a.end;
  }

  bool single(const Candidate& c) {
    if (c.qualifier && !test_(c.qualifier)) return true;
    const std::string_view body = piece_.substr(c.body, c.body_end - c.body);
    const BodyKind kind = classify(body);
    if (kind == BodyKind::Name) return false;
    if (kind == BodyKind::NotReference) return !c.spilled;
    std::optional<LineRange> line;
    if (kind == BodyKind::Line) line = parse_line_body(body);
    if (no_home_sheet_ && !c.qualifier) {
      if (kind != BodyKind::Line || on_axis(*line, shift_)) {
        ambiguous_ = true;
        return false;
      }
    }
    if (!c.qualifier && !test_(std::nullopt)) return true;
    const std::string upper = upper_ascii(body);
    ShiftVerdict verdict = ShiftVerdict::Unchanged;
    std::string text;
    if (kind == BodyKind::Cell) {
      auto outcome = shift_cell_ref(*model::parse_cell_ref(upper), shift_);
      verdict = outcome.verdict;
      text = model::format_cell_ref(outcome.value);
    } else if (kind == BodyKind::Range) {
      if (c.spilled) return false;
      auto outcome = shift_range(*model::parse_range(upper), shift_);
      verdict = outcome.verdict;
      text = model::format_cell_ref(outcome.value.start) + ":" + model::format_cell_ref(outcome.value.end);
    } else {
      if (c.spilled) return false;
      auto outcome = shift_line_range(*line, shift_);
      verdict = outcome.verdict;
      text = format_line_range(outcome.value);
    }
    if (verdict == ShiftVerdict::Invalid) {
      replace(c.start, c.end, "#REF!");
    } else if (verdict == ShiftVerdict::Moved) {
      replace(c.start, c.end, prefix(c) + text + (c.spilled ? "#" : ""));
    }
    return true;
  }

  bool pair(const Candidate& a, const Candidate& b) {
    if (no_home_sheet_ && !a.qualifier) {
      ambiguous_ = true;
      return false;
    }
    if (a.spilled || b.spilled) return false;
    if (b.qualifier && (!a.qualifier || !same_sheet_name(*a.qualifier, *b.qualifier))) return false;
    const std::string first = upper_ascii(piece_.substr(a.body, a.body_end - a.body));
    const std::string second = upper_ascii(piece_.substr(b.body, b.body_end - b.body));
    if (classify(first) != BodyKind::Cell || classify(second) != BodyKind::Cell) return false;
    if (!test_(a.qualifier)) return true;
    const model::CellRef x = *model::parse_cell_ref(first);
    const model::CellRef y = *model::parse_cell_ref(second);
    model::CellRange range;
    range.start = {std::min(x.row, y.row), std::min(x.col, y.col), x.abs_row, x.abs_col};
    range.end = {std::max(x.row, y.row), std::max(x.col, y.col), y.abs_row, y.abs_col};
    auto outcome = shift_range(range, shift_);
    if (outcome.verdict == ShiftVerdict::Invalid) {
      replace(a.start, b.end, "#REF!");
    } else if (outcome.verdict == ShiftVerdict::Moved) {
      std::string text = prefix(a) + model::format_cell_ref(outcome.value.start);
      text += piece_.substr(a.end, b.start - a.end);
      text += prefix(b) + model::format_cell_ref(outcome.value.end);
      replace(a.start, b.end, text);
    }
    return true;
  }

  RemapResult unsafe() const { return {RemapVerdict::Unsafe, {}}; }

  std::string_view piece_;
  const StructuralShift& shift_;
  const ReferenceTest& test_;
  bool no_home_sheet_;
  const NameSet& names_;
  std::string out_;
  size_t copied_ = 0;
  bool changed_ = false;
  bool ambiguous_ = false;
};

// An unqualified run of letters, digits, "$" and ":" that reads as a
// reference, outside literals, quoted names and brackets.
bool has_unqualified_reference(std::string_view piece) {
  size_t pos = 0;
  uint32_t depth = 0;
  auto run_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == ':';
  };
  while (pos < piece.size()) {
    const char c = piece[pos];
    if (c == '"') {
      pos = skip_text_literal(piece, pos);
      continue;
    }
    if (c == '\'') {
      auto token = read_name_token(piece, pos);
      pos = token ? token->end : piece.size();
      continue;
    }
    if (c == '[') ++depth;
    if (c == ']' && depth > 0) --depth;
    if (depth > 0 || !run_char(c)) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < piece.size() && run_char(piece[end])) ++end;
    const bool after_bang = pos > 0 && piece[pos - 1] == '!';
    const bool before_bang = end < piece.size() && piece[end] == '!';
    const bool word_before = pos > 0 && (piece[pos - 1] == '_' || piece[pos - 1] == '.' ||
                                         static_cast<unsigned char>(piece[pos - 1]) >= 0x80);
    if (!after_bang && !before_bang && !word_before) {
      const std::string upper = upper_ascii(piece.substr(pos, end - pos));
      if (model::parse_cell_ref(upper) || (upper.find(':') != std::string::npos && model::parse_range(upper)) ||
          parse_line_body(upper)) {
        return true;
      }
    }
    pos = end;
  }
  return false;
}

struct PieceResult {
  RemapVerdict verdict = RemapVerdict::Unchanged;
  std::string text;
};

PieceResult remap_piece(std::string_view piece, const StructuralShift& shift, const ReferenceTest& test,
                        bool no_home_sheet, const NameSet& names) {
  const std::string_view trimmed = trim_white_space(piece);
  if (auto line = parse_line_range_text(trimmed)) {
    const bool axis = on_axis(line->range, shift);
    if (no_home_sheet && !line->qualifier && axis) return {RemapVerdict::Ambiguous, {}};
    if (axis && test(line->qualifier)) {
      auto outcome = shift_line_range(line->range, shift);
      if (outcome.verdict == ShiftVerdict::Invalid) return {RemapVerdict::Rewritten, "#REF!"};
      if (outcome.verdict == ShiftVerdict::Moved) {
        return {RemapVerdict::Rewritten, line->prefix + format_line_range(outcome.value)};
      }
    }
    return {};
  }
  if (auto parsed = formula::parse_formula(trimmed)) {
    const Expr& tree = **parsed;
    const bool plain = !any_node(tree, [](const Expr& e) {
      return e.kind() == Expr::Kind::RowRange || e.kind() == Expr::Kind::ColumnRange ||
             e.kind() == Expr::Kind::TableRef || e.kind() == Expr::Kind::RangeOp;
    });
    if (plain) {
      if (no_home_sheet && any_node(tree, [](const Expr& e) {
            if (auto ref = e.get<node::Ref>()) return !ref->sheet;
            if (auto range = e.get<node::Range>()) return !range->sheet;
            return false;
          })) {
        return {RemapVerdict::Ambiguous, {}};
      }
      bool changed = false;
      ExprPtr shifted = shift_expr_refs(*parsed, shift, test, changed);
      if (!changed) return {};
      std::string text = formula::expr_to_formula(*shifted);
      if (!formula::parse_formula(text)) return {RemapVerdict::ReparseFailed, {}};
      return {RemapVerdict::Rewritten, std::move(text)};
    }
  }
  PieceScanner scanner(piece, shift, test, no_home_sheet, names);
  RemapResult result = scanner.run();
  if (result.verdict == RemapVerdict::Unsafe) {
    if (scanner.ambiguous() || (no_home_sheet && has_unqualified_reference(piece))) {
      return {RemapVerdict::Ambiguous, {}};
    }
  }
  return {result.verdict, std::move(result.text)};
}

// False when a row edit cannot move any reference of `text`: every row
// number written in it lies before the edit. Saves parsing the many formulas
// above an insertion or deletion.
bool may_reach_rows(std::string_view text, const StructuralShift& shift) {
  if (!shifts_rows(shift.kind) || text.find('[') != std::string_view::npos) return true;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      pos = skip_text_literal(text, pos);
      continue;
    }
    if (c < '0' || c > '9') {
      ++pos;
      continue;
    }
    uint64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(text[pos] - '0'), uint64_t{1} << 40);
      ++pos;
    }
    // Row number n is row index n - 1, which moves when it is at or after `at`.
    if (number > shift.at) return true;
  }
  return false;
}

}  // namespace

NameSet defined_name_set(const model::WorkbookModel& model) {
  NameSet names;
  for (const model::DefinedName& name : model.defined_names) names.insert(unicode::to_lower(name.name));
  return names;
}

std::optional<std::vector<std::string_view>> split_top_level_args(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  size_t pos = 0;
  uint32_t level = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      pos = skip_text_literal(text, pos);
      continue;
    }
    if (c == '\'') {
      auto token = read_name_token(text, pos);
      if (!token) return std::nullopt;
      pos = token->end;
      continue;
    }
    if (c == '{') {
      const size_t close = text.find('}', pos);
      if (close == std::string_view::npos) return std::nullopt;
      pos = close + 1;
      continue;
    }
    if (c == '(' || c == '[') {
      ++level;
    } else if (c == ')' || c == ']') {
      if (level == 0) return std::nullopt;
      --level;
    } else if (c == ',' && level == 0) {
      pieces.push_back(text.substr(start, pos - start));
      start = pos + 1;
    }
    ++pos;
  }
  if (level > 0) return std::nullopt;
  pieces.push_back(text.substr(start));
  return pieces;
}

RemapResult remap_formula_text(std::string_view text, const StructuralShift& shift, const ReferenceTest& test,
                               bool no_home_sheet, const NameSet& names) {
  const bool equals = text.starts_with('=');
  if (equals) text.remove_prefix(1);
  auto pieces = split_top_level_args(text);
  if (!pieces) return {RemapVerdict::Unsafe, {}};
  std::vector<std::string> out;
  out.reserve(pieces->size());
  bool changed = false;
  for (std::string_view piece : *pieces) {
    PieceResult result = remap_piece(piece, shift, test, no_home_sheet, names);
    if (result.verdict == RemapVerdict::Rewritten) {
      changed = true;
      out.push_back(std::move(result.text));
    } else if (result.verdict == RemapVerdict::Unchanged) {
      out.emplace_back(piece);
    } else {
      return {result.verdict, {}};
    }
  }
  if (!changed) return {RemapVerdict::Unchanged, {}};
  std::string joined = equals ? "=" : "";
  for (size_t i = 0; i < out.size(); ++i) {
    if (i > 0) joined.push_back(',');
    joined += out[i];
  }
  return {RemapVerdict::Rewritten, std::move(joined)};
}

Result<std::vector<SetCell>, OpsError> remap_cell_formulas_for_structural_op(model::WorkbookModel& model,
                                                                             SheetId sheet,
                                                                             const StructuralShift& shift) {
  const ShiftContext context = make_shift_context(model, sheet);
  ParseCache cache;
  std::vector<SetCell> restores;
  std::vector<SharedString> texts;
  // Only formula texts change below, so the records stay where they are.
  std::vector<model::SheetCell*> targets;
  for (uint32_t s = 0; s < model.sheets.size(); ++s) {
    const ReferenceTest test = [&context, s](const std::optional<std::string>& qualifier) {
      return sheet_ref_touches_edited_sheet(qualifier, s, context);
    };
    for (auto& [key, cell] : model.sheets[s].cells) {
      if (!cell.formula) continue;
      const model::CellRef ref{key.row, key.col, false, false};
      auto refuse = [&] { return unexpected(OpsError::formula_not_rewritable(s, ref)); };
      const std::string_view text = cell.formula->view();
      // A formula that names no sheet refers to its own sheet only.
      const bool names_sheets = text.find('!') != std::string_view::npos;
      if (s != sheet && !names_sheets) continue;
      if (!may_reach_rows(text, shift)) continue;
      if (names_sheets && has_unresolvable_span_on_sheet(text, context)) return refuse();
      auto parsed = cache.parse(text);
      if (!parsed || holds_table_ref(**parsed)) return refuse();
      bool changed = false;
      ExprPtr shifted = shift_expr_refs(*parsed, shift, test, changed);
      if (!changed) continue;
      std::string printed = formula::expr_to_formula(*shifted);
      if (!formula::parse_formula(printed)) return refuse();
      restores.push_back(SetCell{cell, CellAddress{s, ref}});
      texts.emplace_back(printed);
      targets.push_back(&cell);
    }
  }
  for (size_t i = 0; i < targets.size(); ++i) targets[i]->formula = std::move(texts[i]);
  return restores;
}

}  // namespace cmx::ops
