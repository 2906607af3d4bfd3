// Writers of the generated parts: shared strings, worksheets, styles and
// theme. Each returns the part's bytes, or the refusal of a character that
// the part cannot carry.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "writer/xml_part_writer.h"

namespace cmx::writer {

// Per sheet: (row, column) → the shared-string index the cell referenced when
// it was read.
using model::CellStringIndexMap;

// ---- shared strings -------------------------------------------------------

// `sst` with count and uniqueCount both the list's length, duplicates included.
Result<std::string, SpreadsheetParseError> write_shared_strings_part(
    const std::vector<std::string>& texts, std::string_view main_ns);
void write_shared_string_item(XmlPartWriter& writer, std::string_view text);

// Which written shared-string entry reuses which entry of the source part,
// so that an entry with runs or phonetic text the model does not hold is
// copied rather than rewritten, at a position where its cells find it.
struct SharedStringPlan {
  // One per position of the model's list: the source entry it reuses, or
  // none for an entry written from the model's text.
  std::vector<std::optional<uint64_t>> entries;
  std::map<uint64_t, uint64_t> source_to_written;
  // A text to the first position written fresh with it.
  absl::flat_hash_map<std::string, uint64_t> text_map;
};

// `source_item_count` is the number of string items of the source part;
// `cell_maps` holds one map per sheet of the source index each text cell
// referenced. UnsupportedEdit when cells still use more distinct source
// entries of one text than the model's list holds of it.
Result<SharedStringPlan, SpreadsheetParseError> build_shared_string_plan(
    const std::vector<std::string>& source_texts, uint64_t source_item_count,
    const model::WorkbookModel& model, std::span<const CellStringIndexMap> cell_maps);

// ---- worksheets -----------------------------------------------------------

// A text to the lowest index it has in the shared-string list.
using TextLookup = absl::flat_hash_map<std::string_view, uint32_t>;
TextLookup build_text_lookup(const std::vector<std::string>& texts);

struct HyperlinkRelationshipPlan {
  std::vector<std::optional<std::string>> ids;  // one per hyperlink
  std::vector<opc::AttributeList> relationships;  // kept ones, then new ones
};

HyperlinkRelationshipPlan plan_hyperlink_relationships(
    const std::vector<model::SheetHyperlink>& hyperlinks,
    const std::vector<opc::AttributeList>& existing, std::string_view default_type);

// Everything a sheet's cells are written against.
struct SheetWriteContext {
  const std::vector<std::string>* shared_strings = nullptr;
  const TextLookup* lookup = nullptr;  // empty or absent: no lookup by text
  const CellStringIndexMap* recorded = nullptr;
  // With a plan, recorded indexes are source indexes mapped through it, and
  // texts are found through its text map instead of `lookup`.
  const SharedStringPlan* plan = nullptr;
};

Result<std::string, SpreadsheetParseError> write_worksheet_part(
    const model::SheetModel& sheet, const model::WorkbookModel& model, std::string_view main_ns,
    std::string_view rel_ns, const HyperlinkRelationshipPlan& plan, const TextLookup* lookup = nullptr,
    const SharedStringPlan* string_plan = nullptr);

void write_sheet_views(XmlPartWriter& writer, const model::FreezePane& pane);
void write_pane(XmlPartWriter& writer, const model::FreezePane& pane);
void write_col_element(XmlPartWriter& writer, uint32_t col, double width);
void write_cols(XmlPartWriter& writer, const model::SheetModel& sheet);
// The `cols` element alone, or nothing when the sheet has no widths.
std::string write_cols_fragment(const model::SheetModel& sheet);
void write_sheet_data(XmlPartWriter& writer, const model::SheetModel& sheet,
                      const SheetWriteContext& context);
// One `row` with every cell of `row` from `cursor` on, which it advances past
// them; its height when the sheet has one.
void write_row(XmlPartWriter& writer, const model::SheetModel& sheet, uint32_t row,
               model::CellMap::const_iterator& cursor, const SheetWriteContext& context);
std::optional<uint64_t> resolve_shared_string_index(const model::SheetCell& cell, model::CellKey key,
                                                    const SheetWriteContext& context);
void write_cell(XmlPartWriter& writer, model::CellKey key, const model::SheetCell& cell,
                std::optional<uint64_t> known_index, const model::CellRange* array_range);
void write_merge_cells(XmlPartWriter& writer, const std::vector<model::CellRange>& merges);
void write_hyperlinks(XmlPartWriter& writer, const std::vector<model::SheetHyperlink>& hyperlinks,
                      const std::vector<std::optional<std::string>>& ids,
                      std::optional<Attribute> extra = std::nullopt);

// ---- styles ---------------------------------------------------------------

Result<std::string, SpreadsheetParseError> write_styles_part(const model::StyleSheet& styles,
                                                             std::string_view main_ns);
void write_num_fmts(XmlPartWriter& writer, const std::vector<model::CustomNumFmt>& formats);
void write_fonts(XmlPartWriter& writer, const std::vector<model::Font>& fonts);
void write_font(XmlPartWriter& writer, const model::Font& font);
void write_fills(XmlPartWriter& writer, const std::vector<model::Fill>& fills);
void write_pattern_fill(XmlPartWriter& writer, const model::Fill& fill);
void write_borders(XmlPartWriter& writer, const std::vector<model::Border>& borders);
void write_border(XmlPartWriter& writer, const model::Border& border);
void write_border_edge(XmlPartWriter& writer, std::string_view name,
                       const std::optional<model::BorderEdge>& edge);
void write_cell_xfs(XmlPartWriter& writer, const std::vector<model::CellXf>& xfs);
void write_cell_xf(XmlPartWriter& writer, const model::CellXf& xf);
void write_indexed_colors(XmlPartWriter& writer, const std::vector<std::string>& palette);
void write_rgb_colors(XmlPartWriter& writer, const std::vector<std::string>& palette);

// ---- theme ----------------------------------------------------------------

Result<std::string, SpreadsheetParseError> write_theme_part(const model::StyleSheet& styles,
                                                            std::string_view drawing_ns);

}  // namespace cmx::writer
