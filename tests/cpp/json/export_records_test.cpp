// The structured export document: whole random documents read back what was
// written, in declaration order and from the value tree's byte order alike,
// with byte counters equal to the written lengths; fixed texts for the
// record forms; and every refusal of the strict reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "json/record_test_support.h"

namespace cmx::json {
namespace {

using testing::RandomRecords;

class RandomDocuments {
 public:
  explicit RandomDocuments(uint32_t seed) : r_(seed) {}

  XlsxStructuredContent content() {
    XlsxStructuredContent doc;
    doc.anchor_scope = static_cast<XlsxAnchorScope>(r_.below(2));
    doc.date_system = static_cast<XlsxDateSystem>(r_.below(2));
    doc.included = {r_.coin(), r_.coin(), r_.coin(), r_.coin(), r_.coin()};
    for (uint32_t i = r_.below(4); i > 0; --i) doc.sheets.push_back(sheet());
    for (uint32_t i = r_.below(4); i > 0; --i) doc.defined_names.push_back(defined_name());
    for (uint32_t i = r_.below(4); i > 0; --i) doc.diagnostics.push_back(diagnostic());
    doc.truncated = r_.coin();
    return doc;
  }

  XlsxExportSheet sheet() {
    XlsxExportSheet s;
    s.id = r_.text(4);
    s.anchor = anchor();
    s.kind = static_cast<XlsxSheetKind>(r_.below(5));
    s.visibility = static_cast<XlsxSheetVisibility>(r_.below(4));
    s.used_range = maybe_text();
    s.selected_range = maybe_text();
    s.hidden_rows = texts();
    s.hidden_columns = texts();
    for (uint32_t i = r_.below(3); i > 0; --i) s.merges.push_back({r_.text(), anchor(), r_.coin()});
    for (uint32_t i = r_.below(3); i > 0; --i) {
      s.tables.push_back({r_.text(), anchor(), r_.text(), u32(), u32(), texts(), r_.coin()});
    }
    for (uint32_t i = r_.below(3); i > 0; --i) {
      s.hyperlinks.push_back(
          {r_.text(), anchor(), maybe_text(), maybe_text(), maybe_text(), maybe_text(), r_.coin()});
    }
    for (uint32_t i = r_.below(3); i > 0; --i) {
      XlsxExportObject o;
      o.id = r_.text();
      o.kind = static_cast<XlsxObjectKind>(r_.below(9));
      if (r_.coin()) o.anchor = anchor();
      o.name = maybe_text();
      o.alt_text = maybe_text();
      o.title = maybe_text();
      o.hidden = r_.coin();
      o.part = maybe_text();
      if (r_.coin()) o.source = source();
      s.objects.push_back(std::move(o));
    }
    for (uint32_t i = r_.below(6); i > 0; --i) s.cells.push_back(cell());
    if (r_.coin()) s.source = source();
    s.truncated = r_.coin();
    return s;
  }

  XlsxExportCell cell() {
    XlsxExportCell c;
    c.id = r_.text(6);
    c.anchor = anchor();
    c.value = value();
    c.formula = maybe_text();
    c.display_text = r_.text();
    c.number_format = r_.text();
    if (r_.coin()) c.formula_result = static_cast<XlsxFormulaResult>(r_.below(5));
    if (r_.coin()) c.merge = XlsxCellMerge{r_.text(), r_.coin()};
    return c;
  }

  XlsxExportValue value() {
    switch (r_.below(6)) {
      case 0: return XlsxValueEmpty{};
      case 1: return XlsxValueNumber{r_.finite()};
      case 2: return XlsxValueText{r_.text()};
      case 3: return XlsxValueBool{r_.coin()};
      case 4: return XlsxValueError{static_cast<model::CellErrorCode>(r_.below(model::kCellErrorCodeCount))};
      default: return XlsxValueUnavailable{r_.text()};
    }
  }

  XlsxAnchor anchor() {
    switch (r_.below(5)) {
      case 0: return XlsxAnchorSheet{identity()};
      case 1: return XlsxAnchorCell{identity(), r_.text(5)};
      case 2: return XlsxAnchorRange{identity(), r_.text(7)};
      case 3: {
        std::optional<XlsxSheetIdentity> local;
        if (r_.coin()) local = identity();
        return XlsxAnchorDefinedName{r_.text(), local, u32()};
      }
      default: return XlsxAnchorSourcePart{source()};
    }
  }

  XlsxExportDefinedName defined_name() {
    XlsxExportDefinedName n{r_.text(), anchor(), r_.text(), r_.text(), r_.coin(), std::nullopt};
    if (r_.coin()) n.local_sheet = identity();
    return n;
  }

  XlsxExportDiagnostic diagnostic() {
    XlsxExportDiagnostic d;
    d.code = static_cast<XlsxDiagnosticCode>(r_.below(16));
    d.severity = static_cast<XlsxSeverity>(r_.below(3));
    if (r_.coin()) d.anchor = anchor();
    d.message = r_.text(20);
    return d;
  }

 private:
  XlsxSheetIdentity identity() { return {r_.text(6), u32(), r_.text()}; }
  XlsxSourcePart source() {
    XlsxSourcePart p{r_.text(), r_.text(), {}};
    for (uint32_t i = r_.below(3); i > 0; --i) p.path.push_back(u32());
    return p;
  }
  uint32_t u32() { return r_.coin() ? r_.below(10) : static_cast<uint32_t>(r_.u64()); }
  std::optional<std::string> maybe_text() {
    if (r_.coin()) return std::nullopt;
    return r_.text();
  }
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (uint32_t i = r_.below(3); i > 0; --i) out.push_back(r_.text());
    return out;
  }

  RandomRecords r_;
};

// The record counter's total equals the length the record writer writes.
template <typename T>
void expect_counted(const T& record, void (*count)(const T&, uint64_t&),
                    void (*write)(ExportEmitter<detail::TextSink>&, const T&)) {
  uint64_t total = 0;
  count(record, total);
  CompactWriter writer;
  write(writer, record);
  EXPECT_EQ(total, writer.text().size()) << writer.text();
}

TEST(ExportRecords, RandomDocumentsRoundTripInEveryForm) {
  RandomDocuments random(45);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const XlsxStructuredContent doc = random.content();
    const std::string text = structured_content_to_json(doc);

    auto back = decode_structured_content(text);
    ASSERT_TRUE(back.has_value()) << back.error() << "\n" << text;
    EXPECT_TRUE(*back == doc) << text;
    EXPECT_EQ(structured_content_to_json(*back), text);
    EXPECT_EQ(count_structured_content_bytes(doc), text.size());

    // The tree form: same bytes, keys in byte order, and it reads back too.
    const std::string tree_text = json_value_to_string(structured_content_to_json_value(doc));
    EXPECT_EQ(tree_text.size(), text.size());
    auto from_tree = decode_structured_content(tree_text);
    ASSERT_TRUE(from_tree.has_value()) << from_tree.error();
    EXPECT_TRUE(*from_tree == doc);

    // Each record counter equals its writer's length.
    for (const XlsxExportSheet& sheet : doc.sheets) {
      expect_counted(sheet, count_export_sheet_bytes, serialize_export_sheet<detail::TextSink>);
      for (const auto& cell : sheet.cells) {
        expect_counted(cell, count_export_cell_bytes, serialize_export_cell<detail::TextSink>);
        expect_counted(cell.anchor, count_xlsx_anchor_bytes, serialize_xlsx_anchor<detail::TextSink>);
      }
      for (const auto& m : sheet.merges) expect_counted(m, count_export_merge_bytes, serialize_export_merge<detail::TextSink>);
      for (const auto& t : sheet.tables) expect_counted(t, count_export_table_bytes, serialize_export_table<detail::TextSink>);
      for (const auto& h : sheet.hyperlinks) {
        expect_counted(h, count_export_hyperlink_bytes, serialize_export_hyperlink<detail::TextSink>);
      }
      for (const auto& o : sheet.objects) expect_counted(o, count_export_object_bytes, serialize_export_object<detail::TextSink>);
    }
    for (const auto& n : doc.defined_names) {
      expect_counted(n, count_export_defined_name_bytes, serialize_export_defined_name<detail::TextSink>);
    }
    for (const auto& d : doc.diagnostics) {
      expect_counted(d, count_export_diagnostic_bytes, serialize_export_diagnostic<detail::TextSink>);
    }
  }
}

TEST(ExportRecords, MarkdownResultInBothOrders) {
  RandomDocuments random(7);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    MarkdownExport result{std::string("| a |\n"), {}, {}, round % 2 == 0};
    for (int i = round % 4; i > 0; --i) {
      result.anchors.push_back({"<!-- xlsx-export:" + std::to_string(i) + " -->", random.anchor()});
      result.diagnostics.push_back(random.diagnostic());
    }
    bool counts_match = false;
    std::string text = testing::written_and_counted([&](auto& w) { serialize_markdown_export(w, result); }, counts_match);
    EXPECT_TRUE(counts_match);
    std::string tree = json_value_to_string(markdown_export_to_json_value(result));
    EXPECT_EQ(tree.size(), text.size());
    EXPECT_EQ(text.rfind(R"({"markdown":)", 0), 0u) << text;
    EXPECT_EQ(tree.rfind(R"({"anchors":[)", 0), 0u) << tree;
    // The diagnostics inside read back with the diagnostics reader.
    auto parsed = parse_json_value(text);
    ASSERT_TRUE(parsed.has_value());
    std::string diagnostics = json_value_to_string(*parsed->as_object().find("diagnostics"));
    auto back = read_json_text(diagnostics, deserialize_xlsx_export_diagnostic_list);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == result.diagnostics);
  }
}

XlsxSheetIdentity first_sheet() { return {"sheet:0", 0, "Q\"1"}; }

TEST(ExportRecords, WrittenForms) {
  XlsxExportCell cell;
  cell.id = "s0!B7";
  cell.anchor = XlsxAnchorCell{first_sheet(), "B7"};
  cell.value = XlsxValueNumber{3};
  cell.display_text = "3";
  cell.number_format = "General";
  struct Case {
    std::string_view name;
    std::string written;
    std::string_view expected;
  } cases[] = {
      {"cell", [&] { CompactWriter w; serialize_export_cell(w, cell); return w.take(); }(),
       R"({"id":"s0!B7","anchor":{"kind":"cell","sheet":{"sheetId":"sheet:0","index":0,"name":"Q\"1"},"a1":"B7"},)"
       R"("value":{"kind":"number","value":3.0},"formula":null,"displayText":"3","numberFormat":"General",)"
       R"("formulaResult":null,"merge":null})"},
      {"cell tree", json_value_to_string(JsonValue([&] { JsonObject o; value_map_insert_cells(o, std::span(&cell, 1)); return o; }())),
       R"({"cells":[{"anchor":{"a1":"B7","kind":"cell","sheet":{"index":0,"name":"Q\"1","sheetId":"sheet:0"}},)"
       R"("displayText":"3","formula":null,"formulaResult":null,"id":"s0!B7","merge":null,"numberFormat":"General",)"
       R"("value":{"kind":"number","value":3.0}}]})"},
      {"workbook-wide name anchor",
       [] { CompactWriter w; serialize_xlsx_anchor(w, XlsxAnchorDefinedName{"Rate", std::nullopt, 2}); return w.take(); }(),
       R"({"kind":"definedName","name":"Rate","localSheet":null,"ordinal":2})"},
      {"whole-part source",
       [] { CompactWriter w; w.begin_object(); write_field_source(w, XlsxSourcePart{"xl/a.xml", "", {}}); w.end_object(); return w.take(); }(),
       R"({"source":{"part":"xl/a.xml","partSha256":"","path":[]}})"},
      {"workbook diagnostic",
       [] { CompactWriter w; serialize_export_diagnostic(w, {XlsxDiagnosticCode::Truncated, XlsxSeverity::Warning, std::nullopt, "m"}); return w.take(); }(),
       R"({"code":"truncated","severity":"warning","anchor":null,"message":"m"})"},
      {"empty document", structured_content_to_json(XlsxStructuredContent{}),
       R"({"schemaVersion":1,"anchorScope":"snapshot","dateSystem":"1900","calculation":{"policy":"asStored",)"
       R"("freshness":"unverified"},"included":{"hiddenSheets":false,"hiddenRows":false,"hiddenColumns":false,)"
       R"("definedNames":true,"hiddenNames":false},"sheets":[],"definedNames":[],"diagnostics":[],"truncated":false})"},
      {"empty document tree", json_value_to_string(structured_content_to_json_value(XlsxStructuredContent{})),
       R"({"anchorScope":"snapshot","calculation":{"freshness":"unverified","policy":"asStored"},"dateSystem":"1900",)"
       R"("definedNames":[],"diagnostics":[],"included":{"definedNames":true,"hiddenColumns":false,"hiddenNames":false,)"
       R"("hiddenRows":false,"hiddenSheets":false},"schemaVersion":1,"sheets":[],"truncated":false})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.written, c.expected);
  }
}

// Reads `text` with `read` and writes it again; the error message (without
// its place) when reading fails.
template <typename Read, typename Write>
std::string read_again(std::string_view text, Read&& read, Write&& write) {
  auto result = read_json_text(text, read);
  if (!result) return json_error_message(result.error());
  CompactWriter w;
  write(w, *result);
  return w.take();
}

std::string anchor_again(std::string_view text) {
  return read_again(text, deserialize_xlsx_anchor, [](CompactWriter& w, const XlsxAnchor& a) { serialize_xlsx_anchor(w, a); });
}
std::string value_again(std::string_view text) {
  return read_again(text, deserialize_export_value, [](CompactWriter& w, const XlsxExportValue& v) { serialize_export_value(w, v); });
}
std::string cell_again(std::string_view text) {
  return read_again(text, deserialize_export_cell, [](CompactWriter& w, const XlsxExportCell& c) { serialize_export_cell(w, c); });
}
std::string sheet_again(std::string_view text) {
  return read_again(text, deserialize_export_sheet, [](CompactWriter& w, const XlsxExportSheet& s) { serialize_export_sheet(w, s); });
}
std::string content_again(std::string_view text) {
  return read_again(text, deserialize_structured_content,
                    [](CompactWriter& w, const XlsxStructuredContent& c) { serialize_structured_content(w, c); });
}
template <typename T, typename Read, typename Write>
std::string list_again(std::string_view text, Read&& read, Write&& write) {
  return read_again(text, read, [&](CompactWriter& w, const std::vector<T>& items) {
    w.begin_array();
    for (const T& item : items) {
      w.begin_element();
      write(w, item);
    }
    w.end_array();
  });
}
std::string names_again(std::string_view text) {
  return list_again<XlsxExportDefinedName>(text, deserialize_xlsx_export_defined_name_list,
                                           [](CompactWriter& w, const XlsxExportDefinedName& n) { serialize_export_defined_name(w, n); });
}
std::string diagnostics_again(std::string_view text) {
  return list_again<XlsxExportDiagnostic>(text, deserialize_xlsx_export_diagnostic_list,
                                          [](CompactWriter& w, const XlsxExportDiagnostic& d) { serialize_export_diagnostic(w, d); });
}
std::string objects_again(std::string_view text) {
  return list_again<XlsxExportObject>(text, deserialize_export_object_list,
                                      [](CompactWriter& w, const XlsxExportObject& o) { serialize_export_object(w, o); });
}
std::string tables_again(std::string_view text) {
  return list_again<XlsxExportTable>(text, deserialize_export_table_list,
                                     [](CompactWriter& w, const XlsxExportTable& t) { serialize_export_table(w, t); });
}
std::string merges_again(std::string_view text) {
  return list_again<XlsxExportMerge>(text, deserialize_export_merge_list,
                                     [](CompactWriter& w, const XlsxExportMerge& m) { serialize_export_merge(w, m); });
}

constexpr std::string_view kId = R"({"sheetId":"k","index":1,"name":"S"})";
std::string with_id(std::string_view before, std::string_view after) {
  return std::string(before) + std::string(kId) + std::string(after);
}
const std::string kSheetAnchor = with_id(R"({"kind":"sheet","sheet":)", "}");
const std::string kCellAnchorText = with_id(R"({"kind":"cell","sheet":)", R"(,"a1":"B2"})");
const std::string kCell = R"({"id":"c","anchor":)" + kSheetAnchor +
                          R"(,"value":{"kind":"empty"},"displayText":"","numberFormat":""})";
const std::string kCellWritten = R"({"id":"c","anchor":)" + kSheetAnchor +
                                 R"(,"value":{"kind":"empty"},"formula":null,"displayText":"","numberFormat":"",)"
                                 R"("formulaResult":null,"merge":null})";
const std::string kSheetRest = R"("hiddenRows":[],"hiddenColumns":[],"merges":[],"tables":[],"hyperlinks":[],)"
                               R"("objects":[],"cells":[],"truncated":false)";
std::string sheet_text(std::string_view kind) {
  return R"({"id":"s0","anchor":)" + kSheetAnchor + R"(,"kind":)" + std::string(kind) +
         R"(,"visibility":"visible",)" + kSheetRest + "}";
}
const std::string kSheetWritten = R"({"id":"s0","anchor":)" + kSheetAnchor +
                                  R"(,"kind":"chartsheet","visibility":"visible","usedRange":null,"selectedRange":null,)"
                                  R"("hiddenRows":[],"hiddenColumns":[],"merges":[],"tables":[],"hyperlinks":[],)"
                                  R"("objects":[],"cells":[],"source":null,"truncated":false})";
std::string content_text(std::string_view version, std::string_view calculation) {
  return R"({"schemaVersion":)" + std::string(version) + R"(,"anchorScope":"session","dateSystem":"1904","calculation":)" +
         std::string(calculation) +
         R"(,"included":[false,false,false,true,false],"sheets":[],"definedNames":[],"diagnostics":[],"truncated":true})";
}
constexpr std::string_view kCalculation = R"({"policy":"asStored","freshness":"unverified"})";

TEST(ExportRecords, ReadingAndRefusals) {
  struct Case {
    std::string_view name;
    std::string got;
    std::string expected;
  } cases[] = {
      // Anchors.
      {"tag last", anchor_again(with_id(R"({"a1":"B2","sheet":)", R"(,"kind":"cell"})")), kCellAnchorText},
      {"array form", anchor_again(with_id(R"(["range",)", R"(,"B2"])")),
       with_id(R"({"kind":"range","sheet":)", R"(,"a1":"B2"})")},
      {"array too short", anchor_again(with_id(R"(["range",)", "]")),
       "invalid length 1, expected struct variant XlsxAnchor::Range with 2 elements"},
      {"array too long", anchor_again(with_id(R"(["sheet",)", R"(,1])")), "invalid length 2, expected 1 element in sequence"},
      {"tag spelled Kind", anchor_again(with_id(R"({"Kind":"sheet","sheet":)", "}")), "missing field `kind`"},
      {"tag twice", anchor_again(R"({"kind":"sheet","kind":"sheet"})"), "duplicate field `kind`"},
      {"unknown tag", anchor_again(R"({"kind":"Cell"})"),
       "unknown variant `Cell`, expected one of `sheet`, `cell`, `range`, `definedName`, `sourcePart`"},
      {"numeric tag", anchor_again(R"({"kind":1})"), "invalid type: integer `1`, expected variant identifier"},
      {"null anchor", anchor_again("null"), "invalid type: null, expected internally tagged enum XlsxAnchor"},
      {"empty array", anchor_again("[]"), "missing field `kind`"},
      {"cell without a1", anchor_again(with_id(R"({"kind":"cell","sheet":)", "}")), "missing field `a1`"},
      {"extra member", anchor_again(with_id(R"({"kind":"cell","note":1,"sheet":)", "}")),
       "unknown field `note`, expected `sheet` or `a1`"},
      {"sheet with a1", anchor_again(with_id(R"({"kind":"sheet","a1":"A1","sheet":)", "}")),
       "unknown field `a1`, expected `sheet`"},
      {"name without local sheet", anchor_again(R"({"kind":"definedName","name":"N","ordinal":0})"),
       R"({"kind":"definedName","name":"N","localSheet":null,"ordinal":0})"},
      {"name with null local sheet", anchor_again(R"({"kind":"definedName","name":"N","localSheet":null,"ordinal":4294967295})"),
       R"({"kind":"definedName","name":"N","localSheet":null,"ordinal":4294967295})"},
      {"name without ordinal", anchor_again(R"({"kind":"definedName","name":"N"})"), "missing field `ordinal`"},
      {"negative ordinal", anchor_again(R"({"kind":"definedName","name":"N","ordinal":-1})"),
       "invalid value: integer `-1`, expected u32"},
      {"ordinal too large", anchor_again(R"({"kind":"definedName","name":"N","ordinal":4294967296})"),
       "invalid value: integer `4294967296`, expected u32"},
      {"fractional ordinal", anchor_again(R"({"kind":"definedName","name":"N","ordinal":1.0})"),
       "invalid type: floating point `1.0`, expected u32"},
      {"name member list", anchor_again(R"({"kind":"definedName","x":0})"),
       "unknown field `x`, expected one of `name`, `localSheet`, `ordinal`"},
      {"empty source part", anchor_again(R"({"kind":"sourcePart","part":"p","partSha256":"","path":[]})"),
       R"({"kind":"sourcePart","part":"p","partSha256":"","path":[]})"},
      {"path of text", anchor_again(R"({"kind":"sourcePart","part":"p","partSha256":"","path":["1"]})"),
       "invalid type: string \"1\", expected u32"},
      {"identity index", anchor_again(R"({"kind":"sheet","sheet":{"sheetId":"k","index":-1,"name":"S"}})"),
       "invalid value: integer `-1`, expected u32"},
      {"identity member", anchor_again(R"({"kind":"sheet","sheet":{"sheetId":"k","idx":0}})"),
       "unknown field `idx`, expected one of `sheetId`, `index`, `name`"},
      // Values.
      {"empty with extra key", value_again(R"({"value":7,"kind":"empty"})"), R"({"kind":"empty"})"},
      {"empty array with element", value_again(R"(["empty",1])"), "invalid length 1, expected 0 elements in sequence"},
      {"integer number", value_again(R"({"kind":"number","value":3})"), R"({"kind":"number","value":3.0})"},
      {"number as text", value_again(R"({"kind":"number","value":"3"})"), "invalid type: string \"3\", expected f64"},
      {"error word", value_again(R"({"kind":"error","value":"#N/A"})"), R"({"kind":"error","value":"#N/A"})"},
      {"error as object", value_again(R"({"kind":"error","value":{"#N/A":null}})"), R"({"kind":"error","value":"#N/A"})"},
      {"error lower case", value_again(R"({"kind":"error","value":"#n/a"})"),
       "unknown variant `#n/a`, expected one of `#DIV/0!`, `#N/A`, `#NAME?`, `#NULL!`, `#NUM!`, `#REF!`, `#VALUE!`, `#SPILL!`, `#CALC!`"},
      {"unavailable without reason", value_again(R"({"kind":"unavailable"})"), "missing field `reason`"},
      {"unavailable with value", value_again(R"({"kind":"unavailable","value":"x"})"),
       "unknown field `value`, expected `reason`"},
      {"number array short", value_again(R"(["number"])"),
       "invalid length 0, expected struct variant XlsxExportValue::Number with 1 element"},
      {"value of null", value_again("null"), "invalid type: null, expected internally tagged enum XlsxExportValue"},
      // Cells.
      {"cell optional keys absent", cell_again(kCell), kCellWritten},
      {"cell optional keys null",
       cell_again(R"({"formula":null,"formulaResult":null,"merge":null,)" + kCell.substr(1)), kCellWritten},
      {"cell without numberFormat", cell_again(R"({"id":"c","anchor":)" + kSheetAnchor + R"(,"value":["empty"],"displayText":""})"),
       "missing field `numberFormat`"},
      {"cell without value and displayText", cell_again(R"({"id":"c","anchor":)" + kSheetAnchor + R"(,"numberFormat":""})"),
       "missing field `value`"},
      {"cell with note", cell_again(R"({"note":1})"),
       "unknown field `note`, expected one of `id`, `anchor`, `value`, `formula`, `displayText`, `numberFormat`, "
       "`formulaResult`, `merge`"},
      {"formula result object", cell_again(R"({"formulaResult":{"cycle":null},)" + kCell.substr(1)),
       R"({"id":"c","anchor":)" + kSheetAnchor +
           R"(,"value":{"kind":"empty"},"formula":null,"displayText":"","numberFormat":"","formulaResult":"cycle","merge":null})"},
      {"formula result unknown", cell_again(R"({"formulaResult":"Cycle"})"),
       "unknown variant `Cycle`, expected one of `unverified`, `missing`, `uncertain`, `cycle`, `limited`"},
      {"formula result number", cell_again(R"({"formulaResult":1})"), "expected value"},
      {"merge third key", cell_again(R"({"merge":{"range":"A1:B2","origin":true,"x":0}})"),
       "unknown field `x`, expected `range` or `origin`"},
      {"merge without origin", cell_again(R"({"merge":{"range":"A1:B2"}})"), "missing field `origin`"},
      {"cell array of seven", cell_again(R"(["c",)" + kSheetAnchor + R"(,["empty"],null,"","",null])"),
       "invalid length 7, expected struct XlsxExportCell with 8 elements"},
      {"cell of a number", cell_again("5"), "invalid type: integer `5`, expected struct XlsxExportCell"},
      // Merges, tables, objects.
      {"merge without clipped", merges_again(R"([{"id":"m","anchor":)" + kSheetAnchor + "}]"), "missing field `clipped`"},
      {"clipped as number", merges_again(R"([{"clipped":1}])"), "invalid type: integer `1`, expected a boolean"},
      {"table empty columns", tables_again(R"([{"id":"t","anchor":)" + kSheetAnchor +
                                           R"(,"name":"T","headerRows":1,"totalsRows":0,"columns":[],"clipped":false}])"),
       R"([{"id":"t","anchor":)" + kSheetAnchor + R"(,"name":"T","headerRows":1,"totalsRows":0,"columns":[],"clipped":false}])"},
      {"table negative rows", tables_again(R"([{"headerRows":-2}])"), "invalid value: integer `-2`, expected u32"},
      {"columns of null", tables_again(R"([{"columns":[null]}])"), "invalid type: null, expected a string"},
      {"object kind case", objects_again(R"([{"kind":"Chart"}])"),
       "unknown variant `Chart`, expected one of `chart`, `picture`, `shape`, `group`, `connector`, `diagram`, "
       "`graphicFrame`, `contentPart`, `unknown`"},
      {"object array short", objects_again(R"([["o","chart",null,null,null,null,false,null]])"),
       "invalid length 8, expected struct XlsxExportObject with 9 elements"},
      {"source member", objects_again(R"([{"source":{"part":"p","sha":""}}])"),
       "unknown field `sha`, expected one of `part`, `partSha256`, `path`"},
      {"source of text", objects_again(R"([{"source":"p"}])"), "invalid type: string \"p\", expected struct XlsxSourcePart"},
      {"list of object", merges_again("{}"), "invalid type: map, expected a sequence"},
      // Sheets.
      {"sheet kind object", sheet_again(sheet_text(R"({"chartsheet":null})")), kSheetWritten},
      {"sheet kind case", sheet_again(sheet_text(R"("Worksheet")")),
       "unknown variant `Worksheet`, expected one of `worksheet`, `chartsheet`, `dialogsheet`, `macrosheet`, `other`"},
      {"sheet kind null", sheet_again(sheet_text("null")), "expected value"},
      {"sheet capital Id", sheet_again(R"({"Id":"s0"})"),
       "unknown field `Id`, expected one of `id`, `anchor`, `kind`, `visibility`, `usedRange`, `selectedRange`, "
       "`hiddenRows`, `hiddenColumns`, `merges`, `tables`, `hyperlinks`, `objects`, `cells`, `source`, `truncated`"},
      {"usedRange twice", sheet_again(R"({"usedRange":null,"usedRange":"A1"})"), "duplicate field `usedRange`"},
      {"sheet without kind and cells", sheet_again(R"({"id":"s0","anchor":)" + kSheetAnchor + "}"), "missing field `kind`"},
      {"truncated as text", sheet_again(R"({"truncated":"no"})"), "invalid type: string \"no\", expected a boolean"},
      {"hidden rows null", sheet_again(R"({"hiddenRows":null})"), "invalid type: null, expected a sequence"},
      {"sheet array of fourteen",
       sheet_again(R"(["s0",)" + kSheetAnchor + R"(,"worksheet","visible",null,null,[],[],[],[],[],[],[],null])"),
       "invalid length 14, expected struct XlsxExportSheet with 15 elements"},
      {"sheet array of fifteen",
       sheet_again(R"(["s0",)" + kSheetAnchor + R"(,"chartsheet","visible",null,null,[],[],[],[],[],[],[],null,false])"),
       kSheetWritten},
      {"sheet array of sixteen",
       sheet_again(R"(["s0",)" + kSheetAnchor + R"(,"chartsheet","visible",null,null,[],[],[],[],[],[],[],null,false,1])"),
       "trailing characters"},
      {"sheet of a string", sheet_again(R"("s0")"), "invalid type: string \"s0\", expected struct XlsxExportSheet"},
      // Defined names and diagnostics.
      {"name array of five", names_again(R"([["n0",)" + kSheetAnchor + R"(,"N","=1",false]])"),
       "invalid length 5, expected struct XlsxExportDefinedName with 6 elements"},
      {"name hidden as number", names_again(R"([{"hidden":0}])"), "invalid type: integer `0`, expected a boolean"},
      {"name without hidden", names_again(R"([{"id":"n0","anchor":)" + kSheetAnchor + R"(,"name":"N","formula":"=1"}])"),
       "missing field `hidden`"},
      {"name null anchor", names_again(R"([{"anchor":null}])"), "invalid type: null, expected internally tagged enum XlsxAnchor"},
      {"diagnostic null anchor", diagnostics_again(R"([{"code":{"truncated":null},"severity":"error","anchor":null,"message":"m"}])"),
       R"([{"code":"truncated","severity":"error","anchor":null,"message":"m"}])"},
      {"anchor twice", diagnostics_again(R"([{"anchor":null,"anchor":null}])"), "duplicate field `anchor`"},
      {"code capital", diagnostics_again(R"([{"code":"Truncated"}])"),
       "unknown variant `Truncated`, expected one of `hidden-content-excluded`, `visibility-unknown`, `unsupported-sheet`, "
       "`unsupported-content`, `object-placeholder`, `unreadable-object`, `provenance-unavailable`, `comments-omitted`, "
       "`rich-text-omitted`, `formatting-approximate`, `formula-cache-unverified`, `formula-result-missing`, "
       "`calculation-failure`, `value-unavailable`, `truncated`, `markdown-lossy`"},
      {"severity word", diagnostics_again(R"([{"severity":"Warning"}])"),
       "unknown variant `Warning`, expected one of `info`, `warning`, `error`"},
      {"diagnostic without severity", diagnostics_again(R"([{"code":"truncated"}])"), "missing field `severity`"},
      {"diagnostic fifth key", diagnostics_again(R"([{"x":1}])"),
       "unknown field `x`, expected one of `code`, `severity`, `anchor`, `message`"},
      {"diagnostic of null", diagnostics_again("[null]"), "invalid type: null, expected struct XlsxExportDiagnostic"},
      // The document.
      {"document", content_again(content_text("1", kCalculation)),
       R"({"schemaVersion":1,"anchorScope":"session","dateSystem":"1904","calculation":{"policy":"asStored","freshness":"unverified"},)"
       R"("included":{"hiddenSheets":false,"hiddenRows":false,"hiddenColumns":false,"definedNames":true,"hiddenNames":false},)"
       R"("sheets":[],"definedNames":[],"diagnostics":[],"truncated":true})"},
      {"schema 2", content_again(content_text("2", kCalculation)), "unsupported schemaVersion 2; expected 1"},
      {"schema 1.0", content_again(content_text("1.0", kCalculation)), "invalid type: floating point `1.0`, expected u64"},
      {"schema -1", content_again(content_text("-1", kCalculation)), "invalid value: integer `-1`, expected u64"},
      {"no freshness", content_again(content_text("1", R"({"policy":"asStored"})")), "missing field `freshness`"},
      {"live policy", content_again(content_text("1", R"({"policy":"live","freshness":"unverified"})")),
       "unknown variant `live`, expected `asStored`"},
      {"no truncated", content_again(R"({"schemaVersion":1})"), "missing field `anchorScope`"},
      {"document array of eight", content_again(R"([1,"session","1900",)" + std::string(kCalculation) +
                                                R"(,[false,false,false,true,false],[],[],[]])"),
       "invalid length 8, expected struct XlsxStructuredContent with 9 elements"},
      {"included of three", content_again(content_text("1", kCalculation).replace(
                                content_text("1", kCalculation).find("[false"), 31, "[false,false,false]")),
       "invalid length 3, expected struct XlsxExportIncluded with 5 elements"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(ExportRecords, WholeTextsArePlacedAndBounded) {
  auto placed = decode_structured_content(content_text("2", kCalculation));
  ASSERT_FALSE(placed.has_value());
  EXPECT_EQ(placed.error(), "unsupported schemaVersion 2; expected 1 at line 1 column 18");

  std::string huge(kMaxStructuredContentTextBytes + 1, ' ');
  auto refused = decode_structured_content(huge);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "a request carries at most 33554432 bytes");

  // Nesting is bounded inside buffered anchor members too.
  std::string deep = R"({"kind":"sheet","sheet":)" + std::string(200, '[') + std::string(200, ']') + "}";
  auto nested = read_json_text(deep, deserialize_xlsx_anchor);
  ASSERT_FALSE(nested.has_value());
  EXPECT_EQ(nested.error().kind, JsonErrorKind::RecursionLimitExceeded);
}

}  // namespace
}  // namespace cmx::json
