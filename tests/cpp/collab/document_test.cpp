// The document of one small workbook: what the bootstrap writes, the
// projection back into the model, the projection's refusals of documents
// that break the layout, older schema versions, and the migration.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "collab/base_fingerprint.h"
#include "collab/hydration.h"
#include "collab/projection.h"
#include "collab/update_scan.h"
#include "crdt/crdt.h"
#include "document_support.h"

namespace cmx::collab {
namespace {

using crdt::Any;
using model::CellValue;

model::SheetChart chart(std::string part, uint64_t index, model::ChartAnchor anchor) {
  model::SheetChart c;
  c.part = std::move(part);
  c.drawing = "xl/drawings/drawing1.xml";
  c.anchor_index = index;
  c.anchor = anchor;
  c.refs = {{model::ChartReferenceKind::Values, "Data!$A$1:$A$3"}};
  return c;
}

model::TwoCellAnchor two_cell(uint32_t from_row) {
  return model::TwoCellAnchor{model::ChartAnchorEditMode::OneCell, {1, 10, from_row, 20}, {5, 0, from_row + 9, 0}};
}

// Two sheets: one with every kind of content, one empty. Style 2 repeats
// style 1's format.
model::WorkbookModel sample_workbook() {
  model::WorkbookModel book;
  book.styles.fonts = {model::Font{}, model::Font{}};
  book.styles.fonts[1].bold = true;
  book.styles.fills = {model::NoFill{}, model::SolidFill{model::RgbColor{"#ff0000"}}};
  book.styles.borders = {model::Border{}};
  book.styles.cell_xfs = {model::CellXf{0, 0, 0, 0, std::nullopt}, model::CellXf{1, 0, 0, 0, std::nullopt},
                          model::CellXf{1, 0, 0, 0, model::Alignment{}}, model::CellXf{0, 1, 0, 14, std::nullopt}};
  // Alignment{} resolves like an absent alignment only when equal; keep 2 a
  // true duplicate of 1.
  book.styles.cell_xfs[2].alignment.reset();
  book.styles.cell_xfs[2].num_fmt_id.reset();
  book.styles.cell_xfs[1].num_fmt_id.reset();
  book.shared_strings = {"text"};
  book.defined_names = {model::DefinedName{"Total", "Data!$A$1", std::nullopt, false}};
  book.date_system = model::DateSystem::V1904;

  model::SheetModel data;
  data.name = "Data";
  data.default_row_height = 15.0;
  data.custom_height = true;
  auto put = [&](uint32_t row, uint32_t col, CellValue value, std::optional<std::string> formula,
                 std::optional<uint32_t> style) {
    model::SheetCell cell{std::move(value), {}, style};
    if (formula) cell.formula = SharedString(*formula);
    data.cells.insert_or_assign(model::CellKey{row, col}, std::move(cell));
  };
  put(0, 0, CellValue::number(2.5), std::nullopt, 1);
  put(0, 1, CellValue::text("text"), std::nullopt, std::nullopt);
  put(0, 2, CellValue::number(5), "A1*2", 2);
  put(1, 0, CellValue::boolean(true), std::nullopt, std::nullopt);
  put(1, 1, CellValue::error(model::CellErrorCode::NA), std::nullopt, 3);
  put(1, 2, CellValue(), std::nullopt, 3);  // a style and nothing else
  put(2, 3, CellValue(), "NOW()", std::nullopt);
  put(10, 1, CellValue::number(-0.0), std::nullopt, 0);
  data.merges = {model::CellRange{{4, 0, false, false}, {5, 1, true, true}}};
  data.freeze_pane = model::FreezePane{1, 0, {1, 0, false, false}};
  data.hyperlinks = {model::SheetHyperlink{{{0, 0, false, false}, {0, 0, false, false}}, "https://example.com/",
                                           std::nullopt, "tip", std::nullopt}};
  data.col_widths = {{0, 12.5}, {3, 9.0}};
  data.row_heights = {{2, 30.0}};
  data.column_styles = {model::ColumnStyle{5, 7, 3}};
  data.charts = {chart("xl/charts/chart1.xml", 0, two_cell(3))};
  data.array_ranges = {};
  book.sheets.push_back(std::move(data));

  model::SheetModel empty;
  empty.name = "Empty";
  book.sheets.push_back(std::move(empty));
  return book;
}

// The package declares the first sheet's widths except column 3.
std::vector<DeclaredDimensions> sample_declared() {
  DeclaredDimensions first;
  first.column_widths = {{0, 12.5}};
  first.row_heights = {{2, 30.0}};
  return {first, DeclaredDimensions{}};
}

OpenedReplica open_sample(const model::WorkbookModel& book = sample_workbook()) {
  auto opened = open_replica(book, sample_declared(), std::nullopt, std::nullopt);
  EXPECT_TRUE(opened.has_value()) << (opened ? "" : opened.error().text);
  return std::move(*opened);
}

crdt::MapRef root_map(crdt::Doc& doc, std::string_view name) { return doc.get_or_create_map(name).value(); }
crdt::MapRef sheet_map(crdt::Doc& doc, std::string_view key) {
  return root_map(doc, kSheetsRoot).get(key)->as_map();
}
crdt::MapRef nested(crdt::Doc& doc, std::string_view key, std::string_view map) {
  return sheet_map(doc, key).get(map)->as_map();
}
Any value_at(const crdt::MapRef& map, std::string_view key) { return map.get(key).value().any; }
Any cell_value(uint32_t kind, Any payload) { return Any::array({Any::integer(kind), payload}); }

TEST(CollabDocument, BootstrapWritesTheLayout) {
  const model::WorkbookModel book = sample_workbook();
  OpenedReplica opened = open_sample(book);
  crdt::Doc& doc = *opened.authority.doc;
  const AuthoredBase& base = *opened.authority.base;

  std::vector<std::string> roots;
  for (const auto& [name, branch] : doc.roots()) roots.push_back(name);
  EXPECT_EQ(roots, (std::vector<std::string>{"xlsx", "xlsx:cell-formats", "xlsx:sheet-order", "xlsx:sheets"}));

  crdt::MapRef metadata = root_map(doc, kMetadataRoot);
  EXPECT_EQ(metadata.keys(), (std::vector<std::string>{"baseFingerprint", "schemaVersion", "structureGeneration"}));
  EXPECT_TRUE(value_at(metadata, "baseFingerprint") == Any::string(base.base_fingerprint));
  EXPECT_TRUE(value_at(metadata, "schemaVersion") == Any::number(6));
  EXPECT_TRUE(value_at(metadata, "structureGeneration") == Any::number(0));
  EXPECT_EQ(base.bootstrap_client_id, compute_base_fingerprint(book, 6, true, true)->bootstrap_client_id);
  EXPECT_NE(doc.client_id(), base.bootstrap_client_id);

  crdt::ArrayRef order = doc.get_or_create_array(kSheetOrderRoot).value();
  ASSERT_EQ(order.length(), 2u);
  EXPECT_TRUE(order.get(1)->any == Any::string("sheet:1"));

  // The default format and three distinct ones: styles 1 and 2 share an id.
  crdt::MapRef catalog = root_map(doc, kCellFormatsRoot);
  EXPECT_EQ(catalog.size(), 3u);
  EXPECT_TRUE(catalog.contains(encode_cell_format(default_cell_format()).id));

  crdt::MapRef data = sheet_map(doc, "sheet:0");
  EXPECT_EQ(data.keys(), (std::vector<std::string>{"charts", "colWidths", "contents", "freezePane", "hyperlinks",
                                                   "merges", "name", "rowHeights", "styles"}));
  crdt::MapRef contents = nested(doc, "sheet:0", "contents");
  EXPECT_EQ(contents.keys(), (std::vector<std::string>{"0:0", "0:1", "0:2", "10:1", "1:0", "1:1", "2:3"}));
  EXPECT_TRUE(value_at(contents, "0:2") ==
              Any::array({Any::integer(1), Any::string("A1*2"), cell_value(1, Any::number(5))}));
  EXPECT_TRUE(value_at(contents, "2:3") ==
              Any::array({Any::integer(1), Any::string("NOW()"), Any::array({Any::integer(0)})}));
  crdt::MapRef styles = nested(doc, "sheet:0", "styles");
  EXPECT_EQ(styles.keys(), (std::vector<std::string>{"0:0", "0:2", "10:1", "1:1", "1:2"}));
  EXPECT_TRUE(value_at(styles, "0:0") == value_at(styles, "0:2"));
  EXPECT_TRUE(value_at(nested(doc, "sheet:0", "colWidths"), "3") == Any::number(9));

  crdt::MapRef empty = sheet_map(doc, "sheet:1");
  EXPECT_TRUE(value_at(empty, "hyperlinks") == Any::string("[]"));
  EXPECT_TRUE(value_at(empty, "charts") == Any::string("[]"));
  EXPECT_TRUE(value_at(empty, "freezePane") == Any::null());
  EXPECT_TRUE(value_at(empty, "merges") == Any::array({}));
  EXPECT_EQ(nested(doc, "sheet:1", "contents").size(), 0u);
}

TEST(CollabDocument, ProjectionGivesTheWorkbookBack) {
  const model::WorkbookModel book = sample_workbook();
  OpenedReplica opened = open_sample(book);
  const model::WorkbookModel& projected = opened.projection.model;
  EXPECT_EQ(testing::model_difference(projected, testing::expected_projection(book)), "");
  // The duplicate format collapses onto its lowest index.
  EXPECT_EQ(projected.sheets[0].cells.at({0, 2}).style, 1u);
  EXPECT_EQ(projected.sheets[0].cells.at({1, 2}).style, 3u);
  EXPECT_TRUE(projected.sheets[0].cells.at({1, 2}).value.is_empty());

  const ReplicaState& replica = opened.projection.replica;
  EXPECT_EQ(replica.sheet_keys, (std::vector<std::string>{"sheet:0", "sheet:1"}));
  EXPECT_EQ(replica.sheet_names, (std::vector<std::string>{"Data", "Empty"}));
  EXPECT_EQ(replica.structure_generation, 0u);
  ASSERT_EQ(replica.sheet_map_ids.size(), 2u);
  const SheetMapIds& ids = replica.sheet_map_ids.at("sheet:0");
  EXPECT_NE(ids.sheet, ids.contents);
  EXPECT_TRUE(std::holds_alternative<crdt::ID>(ids.sheet.id));
}

TEST(CollabDocument, EveryOpenBootstrapsTheSameBytes) {
  const model::WorkbookModel book = sample_workbook();
  auto a = open_replica(book, sample_declared(), std::nullopt, 11);
  auto b = open_replica(book, sample_declared(), std::nullopt, 12);
  ASSERT_TRUE(a.has_value() && b.has_value());
  EXPECT_EQ(a->bootstrap_update, b->bootstrap_update);
  EXPECT_EQ(a->authority.doc->client_id(), 11u);
  EXPECT_EQ(a->authority.doc->state_vector(), b->authority.doc->state_vector());
  EXPECT_TRUE(replica_state_eq(a->projection.replica, b->projection.replica));

  const uint64_t bootstrap_id = a->authority.base->bootstrap_client_id;
  auto conflict = open_replica(book, sample_declared(), std::nullopt, bootstrap_id);
  ASSERT_FALSE(conflict.has_value());
  EXPECT_EQ(conflict.error().kind, AuthorityError::Kind::kClientIdConflict);
  EXPECT_EQ(conflict.error().client_id, bootstrap_id);
}

TEST(CollabDocument, AcceptedFingerprints) {
  const model::WorkbookModel book = sample_workbook();
  OpenedReplica opened = open_sample(book);
  const auto& table = opened.authority.base->accepted_fingerprints;
  auto fp = [&](const model::WorkbookModel& b, uint32_t v, bool names, bool runs) {
    return compute_base_fingerprint(b, v, names, runs)->text;
  };
  model::WorkbookModel declared = book;
  declared.sheets[0].col_widths = {{0, 12.5}};
  // Versions 3 to 5 also accept the package's own widths; 6 does not. Column
  // style runs count only in version 6, so the texts without them repeat
  // the others below it and are kept once.
  EXPECT_EQ(table.at(6), (std::vector<std::string>{fp(book, 6, true, true), fp(book, 6, true, false)}));
  EXPECT_EQ(table.at(5), (std::vector<std::string>{fp(book, 5, true, true), fp(declared, 5, true, true)}));
  EXPECT_EQ(table.at(3), (std::vector<std::string>{fp(book, 3, false, true), fp(book, 3, true, true),
                                                   fp(declared, 3, false, true), fp(declared, 3, true, true)}));
  EXPECT_EQ(opened.authority.base->base_fingerprint, table.at(6).front());

  // Widths equal to the declared ones add nothing; an indexed palette adds
  // the texts of the workbook without it.
  model::WorkbookModel plain = book;
  plain.sheets[0].col_widths = {{0, 12.5}};
  auto plain_base = build_authored_base(plain, sample_declared(), std::nullopt);
  EXPECT_EQ(plain_base->accepted_fingerprints.at(5).size(), 1u);
  model::WorkbookModel paletted = plain;
  paletted.styles.indexed_colors = {"#000000"};
  auto paletted_base = build_authored_base(paletted, sample_declared(), std::nullopt);
  EXPECT_EQ(paletted_base->accepted_fingerprints.at(6),
            (std::vector<std::string>{fp(paletted, 6, true, true), fp(paletted, 6, true, false),
                                      fp(plain, 6, true, true), fp(plain, 6, true, false)}));
  // A differing declared style sheet adds that workbook's texts.
  model::StyleSheet declared_styles = plain.styles;
  declared_styles.cell_xfs.pop_back();
  auto styled_base = build_authored_base(plain, sample_declared(), declared_styles);
  model::WorkbookModel styled = plain;
  styled.styles = declared_styles;
  EXPECT_EQ(styled_base->accepted_fingerprints.at(4).back(), fp(styled, 4, true, false));
}

using Edit = std::function<void(crdt::Doc&, crdt::Transaction&)>;

void set_in(crdt::Transaction& txn, crdt::MapRef map, std::string_view key, Any value) {
  ASSERT_TRUE(map.set(txn, key, std::move(value)).has_value());
}

TEST(CollabDocument, ProjectionRefusesBrokenDocuments) {
  struct Case {
    std::string_view name;
    Edit edit;
    std::string strict_error;  // empty: reads
    std::string lenient_error;
  };
  auto meta = [](crdt::Doc& d) { return root_map(d, kMetadataRoot); };
  auto sheets = [](crdt::Doc& d) { return root_map(d, kSheetsRoot); };
  auto order_push = [](crdt::Doc& d, crdt::Transaction& t, Any key) {
    ASSERT_TRUE(d.get_or_create_array(kSheetOrderRoot)->push_back(t, {std::move(key)}).has_value());
  };
  const std::string fingerprint_error = "workbook base fingerprint does not match shared state";
  const Case cases[] = {
      {"unchanged", [](crdt::Doc&, crdt::Transaction&) {}, "", ""},
      {"fifth root",
       [](crdt::Doc& d, crdt::Transaction& t) { set_in(t, root_map(d, "notes"), "k", Any::null()); },
       "collaborative document roots do not match the schema", ""},
      {"extra metadata key", [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "extra", Any::null()); },
       "workbook metadata keys do not match the schema", ""},
      {"version as text",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::string("6")); },
       "missing schema version", "missing schema version"},
      {"version 2", [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::number(2)); },
       "unsupported schema version 2; supported versions are 3 through 6",
       "unsupported schema version 2; supported versions are 3 through 6"},
      {"version 6.9", [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::number(6.9)); },
       "", ""},
      {"version as integer",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::integer(6)); }, "", ""},
      {"version 7 as integer",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::integer(7)); },
       "unsupported schema version 7; supported versions are 3 through 6",
       "unsupported schema version 7; supported versions are 3 through 6"},
      {"fingerprint not text",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "baseFingerprint", Any::number(1)); },
       "missing workbook base fingerprint", "missing workbook base fingerprint"},
      {"foreign fingerprint",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "baseFingerprint", Any::string(std::string(64, 'a'))); },
       fingerprint_error, fingerprint_error},
      {"version 5 under a version 6 fingerprint",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "schemaVersion", Any::number(5)); },
       fingerprint_error, fingerprint_error},
      {"generation -0.5",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "structureGeneration", Any::number(-0.5)); }, "",
       ""},
      {"generation -1",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, meta(d), "structureGeneration", Any::number(-1)); },
       "structure generation is negative", "structure generation is negative"},
      {"generation missing",
       [&](crdt::Doc& d, crdt::Transaction& t) { meta(d).remove(t, "structureGeneration"); },
       "workbook metadata keys do not match the schema", "missing structure generation"},
      {"catalog entry not canonical",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, root_map(d, kCellFormatsRoot), std::string(64, '0'), Any::string("{}")); },
       "", ""},  // filled below from the catalog reader
      {"order repeats a key", [&](crdt::Doc& d, crdt::Transaction& t) { order_push(d, t, Any::string("sheet:0")); },
       "duplicate sheet key sheet:0", "duplicate sheet key sheet:0"},
      {"order names a missing sheet",
       [&](crdt::Doc& d, crdt::Transaction& t) { order_push(d, t, Any::string("sheet:9")); }, "missing sheet sheet:9",
       "missing sheet sheet:9"},
      {"order holds a number", [&](crdt::Doc& d, crdt::Transaction& t) { order_push(d, t, Any::number(0)); },
       "sheet order contains a non-string key", "sheet order contains a non-string key"},
      {"inactive plain value",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheets(d), "sheet:7", Any::string("gone")); },
       "sheet sheet:7 is not a map", "sheet sheet:7 is not a map"},
      {"inactive sheet with a broken cell",
       [&](crdt::Doc& d, crdt::Transaction& t) {
         crdt::MapRef inactive = sheets(d).insert_map(t, "replica:5:0").value();
         ASSERT_TRUE(encode_sheet_map(t, inactive, model::SheetModel{}, model::StyleSheet{}).has_value());
         set_in(t, inactive.get("contents")->as_map(), "0:0", Any::array({Any::integer(0), Any::array({Any::integer(0)})}));
       },
       "empty literal cell content must be omitted", ""},
      {"inactive sheet with an extra key",
       [&](crdt::Doc& d, crdt::Transaction& t) {
         crdt::MapRef inactive = sheets(d).insert_map(t, "replica:5:0").value();
         ASSERT_TRUE(encode_sheet_map(t, inactive, model::SheetModel{}, model::StyleSheet{}).has_value());
         set_in(t, inactive, "extra", Any::null());
       },
       "inactive sheet replica:5:0 keys do not match the schema", ""},
      {"extra sheet key",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:0"), "extra", Any::null()); },
       "sheet sheet:0 keys do not match the schema", ""},
      {"charts missing",
       [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "charts"); }, "", ""},
      {"name missing", [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "name"); },
       "sheet sheet:1 keys do not match the schema", "sheet is missing its name"},
      {"name a number",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "name", Any::number(1)); },
       "sheet is missing its name", "sheet is missing its name"},
      {"contents a plain value",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "contents", Any::null()); },
       "sheet is missing contents", "sheet is missing contents"},
      {"content a map",
       [&](crdt::Doc& d, crdt::Transaction& t) { (void)nested(d, "sheet:1", "contents").insert_map(t, "0:0"); },
       "cell content 0:0 is not an atomic value", "cell content 0:0 is not an atomic value"},
      {"content key not canonical",
       [&](crdt::Doc& d, crdt::Transaction& t) {
         set_in(t, nested(d, "sheet:1", "contents"), "01:2", Any::array({Any::integer(0), cell_value(3, Any::boolean(true))}));
       },
       "noncanonical cell key 01:2", "noncanonical cell key 01:2"},
      {"style a number",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, nested(d, "sheet:1", "styles"), "0:0", Any::number(1)); },
       "cell style 0:0 is not a string", "cell style 0:0 is not a string"},
      {"style of an unknown format",
       [&](crdt::Doc& d, crdt::Transaction& t) {
         set_in(t, nested(d, "sheet:1", "styles"), "3:4", Any::string(std::string(64, 'f')));
       },
       "cell style 3:4 references an unknown format", "cell style 3:4 references an unknown format"},
      {"styles missing", [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "styles"); },
       "sheet sheet:1 keys do not match the schema", "sheet is missing styles"},
      {"row heights a string",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "rowHeights", Any::string("")); },
       "sheet is missing rowHeights", "sheet is missing rowHeights"},
      {"width of column 16384",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, nested(d, "sheet:1", "colWidths"), "16384", Any::number(3)); },
       "column width key 16384 is out of bounds", "column width key 16384 is out of bounds"},
      {"freeze pane missing",
       [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "freezePane"); },
       "sheet sheet:1 keys do not match the schema", "sheet is missing freeze pane"},
      {"freeze pane a map",
       [&](crdt::Doc& d, crdt::Transaction& t) { (void)sheet_map(d, "sheet:1").insert_map(t, "freezePane"); },
       "sheet is missing freeze pane", "sheet is missing freeze pane"},
      {"freeze pane a string",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "freezePane", Any::string("B2")); },
       "sheet freeze pane is not an array", "sheet freeze pane is not an array"},
      {"hyperlinks missing",
       [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "hyperlinks"); },
       "sheet sheet:1 keys do not match the schema", "sheet is missing hyperlinks"},
      {"hyperlinks a list",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "hyperlinks", Any::array({})); },
       "sheet hyperlinks are not a string", "sheet hyperlinks are not a string"},
      {"charts a number",
       [&](crdt::Doc& d, crdt::Transaction& t) { set_in(t, sheet_map(d, "sheet:1"), "charts", Any::number(0)); },
       "sheet charts are not a string", "sheet charts are not a string"},
      {"merges missing", [&](crdt::Doc& d, crdt::Transaction& t) { sheet_map(d, "sheet:1").remove(t, "merges"); },
       "sheet sheet:1 keys do not match the schema", "sheet is missing merges"},
      {"merges a map",
       [&](crdt::Doc& d, crdt::Transaction& t) { (void)sheet_map(d, "sheet:1").insert_map(t, "merges"); },
       "sheet is missing merges", "sheet is missing merges"},
      {"merges an entry short",
       [&](crdt::Doc& d, crdt::Transaction& t) {
         set_in(t, sheet_map(d, "sheet:1"), "merges", Any::array({Any::array({Any::number(0)})}));
       },
       "merge entry must contain eight values", "merge entry must contain eight values"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenedReplica opened = open_sample();
    {
      crdt::Transaction txn(*opened.authority.doc);
      c.edit(*opened.authority.doc, txn);
    }
    std::string strict_error = c.strict_error;
    std::string lenient_error = c.lenient_error;
    if (c.name == "catalog entry not canonical") {
      strict_error = lenient_error = "invalid cell format " + std::string(64, '0') + ": missing field `font` at line 1 column 2";
    }
    auto strict = decode_document(opened.authority, /*strict=*/true);
    EXPECT_EQ(strict ? std::string() : strict.error(), strict_error);
    auto lenient = decode_document(opened.authority, /*strict=*/false);
    EXPECT_EQ(lenient ? std::string() : lenient.error(), lenient_error);
  }
}

TEST(CollabDocument, MissingRoots) {
  OpenedReplica opened = open_sample();
  struct Case {
    std::vector<std::string_view> roots;
    std::string error;
  };
  const Case cases[] = {
      {{}, "missing workbook metadata"},
      {{kMetadataRoot}, "missing cell format catalog"},
      {{kMetadataRoot, kCellFormatsRoot}, "missing sheet order"},
      {{kMetadataRoot, kCellFormatsRoot, kSheetOrderRoot}, "missing sheet map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    // A peer's document that holds only some of the roots.
    Authority partial{crdt::Doc::create(99).value(), opened.authority.base, 0};
    const crdt::Doc& source = *opened.authority.doc;
    {
      crdt::Transaction txn(*partial.doc);
      for (std::string_view name : c.roots) {
        if (name == kSheetOrderRoot) {
          ASSERT_TRUE(partial.doc->get_or_create_array(name)->push_back(txn, {Any::string("sheet:0")}).has_value());
          continue;
        }
        crdt::MapRef from(source.find_root(name));
        crdt::MapRef to = partial.doc->get_or_create_map(name).value();
        from.for_each([&](std::string_view key, const crdt::Value& v) { set_in(txn, to, key, v.any); });
      }
    }
    auto read = decode_document(partial, /*strict=*/false);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), c.error);
  }
}

// Rewrites a bootstrapped document into the given older version, with a
// fingerprint its base accepts for it.
void make_version(Authority& authority, int64_t version) {
  crdt::Doc& doc = *authority.doc;
  crdt::Transaction txn(doc);
  crdt::MapRef metadata = root_map(doc, kMetadataRoot);
  set_in(txn, metadata, "schemaVersion", Any::number(static_cast<double>(version)));
  set_in(txn, metadata, "baseFingerprint", Any::string(authority.base->accepted_fingerprints.at(version).front()));
  for (std::string_view key : {"sheet:0", "sheet:1"}) {
    crdt::MapRef sheet = sheet_map(doc, key);
    if (version < 6) sheet.remove(txn, "charts");
    if (version < 5) sheet.remove(txn, "hyperlinks");
    if (version < 4) sheet.remove(txn, "freezePane");
  }
}

TEST(CollabDocument, OlderVersionsTakeWhatTheyLackFromTheBase) {
  const model::WorkbookModel book = sample_workbook();
  const model::WorkbookModel expected = testing::expected_projection(book);
  for (int64_t version = 3; version <= 5; ++version) {
    SCOPED_TRACE(version);
    OpenedReplica opened = open_sample(book);
    make_version(opened.authority, version);
    {
      // Column 3 is undeclared: a document without it projects the model's
      // width; row 2 is declared, so a document without it has none.
      crdt::Transaction txn(*opened.authority.doc);
      nested(*opened.authority.doc, "sheet:0", "colWidths").remove(txn, "3");
      nested(*opened.authority.doc, "sheet:0", "rowHeights").remove(txn, "2");
      set_in(txn, nested(*opened.authority.doc, "sheet:0", "colWidths"), "0", Any::number(40));
    }
    auto read = decode_document(opened.authority, /*strict=*/true);
    ASSERT_TRUE(read.has_value()) << read.error();
    const model::SheetModel& sheet = read->model.sheets[0];
    EXPECT_EQ(sheet.col_widths, (DimensionMap{{0, 40.0}, {3, 9.0}}));
    EXPECT_TRUE(sheet.row_heights.empty());
    EXPECT_EQ(sheet.freeze_pane, book.sheets[0].freeze_pane);
    EXPECT_EQ(sheet.hyperlinks, book.sheets[0].hyperlinks);
    EXPECT_EQ(sheet.charts, book.sheets[0].charts);

    // The migration writes what the projection read, and then reads alike.
    auto migrated = hydrate_document(opened.authority);
    ASSERT_TRUE(migrated.has_value()) << migrated.error();
    EXPECT_TRUE(*migrated);
    crdt::MapRef metadata = root_map(*opened.authority.doc, kMetadataRoot);
    EXPECT_TRUE(value_at(metadata, "schemaVersion") == Any::number(6));
    EXPECT_TRUE(value_at(metadata, "baseFingerprint") == Any::string(opened.authority.base->base_fingerprint));
    EXPECT_TRUE(value_at(nested(*opened.authority.doc, "sheet:0", "colWidths"), "3") == Any::number(9));
    auto again = decode_document(opened.authority, /*strict=*/true);
    ASSERT_TRUE(again.has_value()) << again.error();
    EXPECT_EQ(testing::model_difference(again->model, read->model), "");
    EXPECT_FALSE(hydrate_document(opened.authority).value());
  }
}

TEST(CollabDocument, VersionThreeIgnoresPanesAndMigrationFillsInactiveSheets) {
  OpenedReplica opened = open_sample();
  make_version(opened.authority, 3);
  crdt::Doc& doc = *opened.authority.doc;
  {
    crdt::Transaction txn(doc);
    set_in(txn, sheet_map(doc, "sheet:0"), "freezePane", Any::string("ignored"));
    crdt::MapRef inactive = root_map(doc, kSheetsRoot).insert_map(txn, "replica:3:1").value();
    ASSERT_TRUE(encode_sheet_map(txn, inactive, model::SheetModel{}, model::StyleSheet{}).has_value());
    for (std::string_view key : {"freezePane", "hyperlinks", "charts"}) inactive.remove(txn, key);
  }
  auto read = decode_document(opened.authority, /*strict=*/false);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(read->model.sheets[0].freeze_pane, sample_workbook().sheets[0].freeze_pane);
  ASSERT_TRUE(hydrate_document(opened.authority).value());
  crdt::MapRef inactive = sheet_map(doc, "replica:3:1");
  EXPECT_TRUE(value_at(inactive, "freezePane") == Any::null());
  EXPECT_TRUE(value_at(inactive, "hyperlinks") == Any::string("[]"));
  EXPECT_TRUE(value_at(inactive, "charts") == Any::string("[]"));
  EXPECT_TRUE(value_at(sheet_map(doc, "sheet:0"), "freezePane") ==
              encode_freeze_pane(sample_workbook().sheets[0].freeze_pane));
  EXPECT_TRUE(decode_document(opened.authority, /*strict=*/true).has_value());
}

TEST(CollabDocument, ChartsOfVersionSix) {
  OpenedReplica opened = open_sample();
  crdt::Doc& doc = *opened.authority.doc;
  {
    crdt::Transaction txn(doc);
    sheet_map(doc, "sheet:0").remove(txn, "charts");
  }
  EXPECT_EQ(decode_document(opened.authority, true)->model.sheets[0].charts, sample_workbook().sheets[0].charts);
  {
    crdt::Transaction txn(doc);
    set_in(txn, sheet_map(doc, "sheet:0"), "charts", Any::string("[]"));
  }
  EXPECT_TRUE(decode_document(opened.authority, true)->model.sheets[0].charts.empty());
}

TEST(CollabDocument, SharedChartsTakeTheAnchorOfTheEarliestSheet) {
  model::WorkbookModel book = sample_workbook();
  book.sheets[1].charts = {chart("xl/charts/chart1.xml", 0, two_cell(40)),
                           chart("xl/charts/chart1.xml", 1, two_cell(50))};
  OpenedReplica opened = open_sample(book);
  const auto& sheets = opened.projection.model.sheets;
  EXPECT_EQ(sheets[1].charts[0].anchor, book.sheets[0].charts[0].anchor);
  EXPECT_EQ(sheets[1].charts[1].anchor, book.sheets[1].charts[1].anchor);  // another anchor index

  // Moving the anchor cells leaves the replica state alone; another extent
  // of a one-cell anchor does not.
  ReplicaState moved = opened.projection.replica;
  model::SheetChart shifted = sheets[0].charts[0];
  std::get<model::TwoCellAnchor>(shifted.anchor).from.row += 7;
  moved.sheet_charts[0][0] = chart_shape_of(shifted);
  EXPECT_TRUE(replica_state_eq(moved, opened.projection.replica));
  model::SheetChart one = chart("p", 0, model::OneCellAnchor{{0, 0, 0, 0}, {10, 10}});
  model::SheetChart wider = one;
  std::get<model::OneCellAnchor>(wider.anchor).extent.cx = 11;
  EXPECT_FALSE(chart_shape_of(one) == chart_shape_of(wider));
  std::get<model::OneCellAnchor>(wider.anchor).extent.cx = 10;
  std::get<model::OneCellAnchor>(wider.anchor).from.col = 3;
  EXPECT_TRUE(chart_shape_of(one) == chart_shape_of(wider));
}

TEST(CollabDocument, ReplicaSheetsHaveNoAuthoredData) {
  OpenedReplica opened = open_sample();
  crdt::Doc& doc = *opened.authority.doc;
  {
    crdt::Transaction txn(doc);
    crdt::MapRef added = root_map(doc, kSheetsRoot).insert_map(txn, "replica:7:0").value();
    model::SheetModel sheet;
    sheet.name = "Added";
    sheet.cells[{0, 0}] = model::SheetCell{CellValue::number(1), {}, {}};
    ASSERT_TRUE(encode_sheet_map(txn, added, sheet, opened.projection.model.styles).has_value());
    ASSERT_TRUE(doc.get_or_create_array(kSheetOrderRoot)->insert(txn, 0, {Any::string("replica:7:0")}).has_value());
    // sheet:+0 names the first bootstrap sheet again, with its authored data.
    crdt::MapRef second = root_map(doc, kSheetsRoot).insert_map(txn, "sheet:+0").value();
    ASSERT_TRUE(encode_sheet_map(txn, second, sample_workbook().sheets[1], sample_workbook().styles).has_value());
    ASSERT_TRUE(doc.get_or_create_array(kSheetOrderRoot)->push_back(txn, {Any::string("sheet:+0")}).has_value());
  }
  auto read = decode_document(opened.authority, true);
  ASSERT_TRUE(read.has_value()) << read.error();
  ASSERT_EQ(read->model.sheets.size(), 4u);
  const model::SheetModel& added = read->model.sheets[0];
  EXPECT_EQ(added.name, "Added");
  EXPECT_FALSE(added.default_row_height.has_value());
  EXPECT_FALSE(added.custom_height);
  EXPECT_TRUE(added.column_styles.empty());
  const model::SheetModel& again = read->model.sheets[3];
  EXPECT_EQ(again.column_styles, sample_workbook().sheets[0].column_styles);
  EXPECT_EQ(again.default_row_height, 15.0);
  EXPECT_EQ(read->replica.sheet_map_ids.size(), 4u);
}

TEST(CollabDocument, MigrationRepairsTheSheetOrder) {
  OpenedReplica opened = open_sample();
  crdt::Doc& doc = *opened.authority.doc;
  crdt::ArrayRef order = doc.get_or_create_array(kSheetOrderRoot).value();
  {
    crdt::Transaction txn(doc);
    ASSERT_TRUE(order.push_back(txn, {Any::string("sheet:0"), Any::string("sheet:2"), Any::string("sheet:1")}).has_value());
    crdt::MapRef third = root_map(doc, kSheetsRoot).insert_map(txn, "sheet:2").value();
    ASSERT_TRUE(encode_sheet_map(txn, third, model::SheetModel{}, model::StyleSheet{}).has_value());
  }
  auto migrated = hydrate_document(opened.authority);
  ASSERT_TRUE(migrated.has_value()) << migrated.error();
  EXPECT_FALSE(*migrated);  // current otherwise
  EXPECT_EQ(read_sheet_order(order).value(), (std::vector<std::string>{"sheet:0", "sheet:1", "sheet:2"}));
}

TEST(CollabDocument, MigrationOfAnotherAcceptedFingerprintChangesOneKey) {
  OpenedReplica opened = open_sample();
  crdt::Doc& doc = *opened.authority.doc;
  const auto& accepted = opened.authority.base->accepted_fingerprints.at(6);
  ASSERT_EQ(accepted.size(), 2u);
  {
    crdt::Transaction txn(doc);
    set_in(txn, root_map(doc, kMetadataRoot), "baseFingerprint", Any::string(accepted[1]));
  }
  const uint32_t clock = doc.state_vector().get(doc.client_id());
  EXPECT_TRUE(hydrate_document(opened.authority).value());
  EXPECT_EQ(doc.state_vector().get(doc.client_id()), clock + 1);

  {
    crdt::Transaction txn(doc);
    set_in(txn, root_map(doc, kMetadataRoot), "baseFingerprint", Any::string(std::string(64, 'b')));
  }
  auto refused = hydrate_document(opened.authority);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "workbook base fingerprint does not match shared state");
}

TEST(CollabDocument, MigrationRefusals) {
  struct Case {
    Any version;
    std::string error;
  };
  const Case cases[] = {
      {Any::number(2), "unsupported schema version 2; supported versions are 3 through 6"},
      {Any::number(7), "unsupported schema version 7; supported versions are 3 through 6"},
      {Any::number(-1e300), "unsupported schema version -9223372036854775808; supported versions are 3 through 6"},
      {Any::string("6"), "missing schema version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    OpenedReplica opened = open_sample();
    {
      crdt::Transaction txn(*opened.authority.doc);
      set_in(txn, root_map(*opened.authority.doc, kMetadataRoot), "schemaVersion", c.version);
    }
    auto result = hydrate_document(opened.authority);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error);
  }
  Authority empty{crdt::Doc::create(5).value(), open_sample().authority.base, 0};
  EXPECT_EQ(hydrate_document(empty).error(), "missing schema version");
}

TEST(CollabDocument, HydrationReplaysWholeStates) {
  OpenedReplica opened = open_sample();
  auto copy = crdt::Doc::create(77).value();
  const std::vector<uint8_t> state = encode_document_state(*opened.authority.doc);
  ASSERT_TRUE(hydrate_from_update(*copy, state).has_value());
  EXPECT_EQ(copy->state_vector(), opened.authority.doc->state_vector());
  EXPECT_EQ(encode_document_state(*copy), state);
  Authority replica{std::move(copy), opened.authority.base, 0};
  EXPECT_EQ(testing::model_difference(decode_document(replica, true)->model, opened.projection.model), "");
  EXPECT_EQ(state_vector_entry_count(replica), 1u);
  EXPECT_EQ(state_vector_limit_message(65537), "state vector contains 65537 entries, exceeds the 65536-entry limit");

  auto target = crdt::Doc::create(78).value();
  const std::vector<uint8_t> cut(state.begin(), state.begin() + state.size() / 2);
  auto refused = hydrate_from_update(*target, cut);
  ASSERT_FALSE(refused.has_value());
  EXPECT_FALSE(refused.error().empty());
  EXPECT_TRUE(target->state_vector().empty());
}

}  // namespace
}  // namespace cmx::collab
