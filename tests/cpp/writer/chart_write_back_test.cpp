#include "writer/chart_write_back.h"

#include <gtest/gtest.h>

#include <functional>

#include "reader/package_builder.h"
#include "xml/part_decoding.h"

namespace cmx::writer {
namespace {

using reader::testing::Package;
using reader::testing::rels_part;

constexpr std::string_view kDrawingNs = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
constexpr std::string_view kChartNs = "http://schemas.openxmlformats.org/drawingml/2006/chart";

std::string marker(const char* name, int col, int row) {
  return std::string("<xdr:") + name + "><xdr:col>" + std::to_string(col) + "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" +
         std::to_string(row) + "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:" + name + ">";
}

std::string chart_frame(const char* rid) {
  return std::string("<xdr:graphicFrame><a:graphic><a:graphicData><c:chart r:id=\"") + rid +
         "\"/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>";
}

// Anchor 0 holds the chart at B3:G13; anchor 1 is a one-cell picture-less
// frame of the same chart.
std::string drawing_part() {
  return "<xdr:wsDr xmlns:xdr=\"" + std::string(kDrawingNs) +
         "\" xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" xmlns:c=\"" + std::string(kChartNs) +
         "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">\n"
         "<xdr:twoCellAnchor>" + marker("from", 1, 2) + marker("to", 6, 12) + chart_frame("rId1") +
         "</xdr:twoCellAnchor>\n</xdr:wsDr>";
}

const std::string kValuesCache =
    R"(<c:numCache><c:formatCode>General</c:formatCode><c:ptCount val="3"/><c:pt idx="0"><c:v>1</c:v></c:pt>)"
    R"(<c:pt idx="1"><c:v>2</c:v></c:pt><c:pt idx="2"><c:v>3</c:v></c:pt></c:numCache>)";

std::string chart_part() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<c:chartSpace xmlns:c=\"" +
         std::string(kChartNs) +
         "\"><c:chart><c:plotArea><c:barChart><c:ser><c:tx><c:strRef><c:f>Sheet1!$A$1</c:f><c:strCache>"
         "<c:ptCount val=\"1\"/><c:pt idx=\"0\"><c:v>Name</c:v></c:pt></c:strCache></c:strRef></c:tx>"
         "<c:val><c:numRef><c:f>Sheet1!$B$1:$B$3</c:f>" +
         kValuesCache + "</c:numRef></c:val></c:ser></c:barChart></c:plotArea></c:chart></c:chartSpace>";
}

Package chart_package() {
  Package pkg = Package::basic();
  pkg.set("xl/worksheets/sheet1.xml",
          "<worksheet xmlns=\"" + std::string(reader::testing::kMainNs) + "\" xmlns:r=\"" +
              std::string(reader::testing::kOfficeRels) +
              "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Name</t></is></c><c r=\"B1\"><v>1</v></c></row>"
              "<row r=\"2\"><c r=\"B2\"><v>2</v></c></row><row r=\"3\"><c r=\"B3\"><v>3</v></c></row>"
              "<row r=\"4\"><c r=\"B4\"><v>4</v></c></row></sheetData><drawing r:id=\"rId1\"/></worksheet>");
  pkg.set("xl/worksheets/_rels/sheet1.xml.rels", rels_part({{"rId1", "drawing", "../drawings/drawing1.xml", ""}}));
  pkg.set("xl/drawings/drawing1.xml", drawing_part());
  pkg.set("xl/drawings/_rels/drawing1.xml.rels", rels_part({{"rId1", "chart", "../charts/chart1.xml", ""}}));
  pkg.set("xl/charts/chart1.xml", chart_part());
  return pkg;
}

struct Saved {
  Result<void, SpreadsheetParseError> result;
  std::vector<std::pair<std::string, std::string>> written;  // parts whose bytes changed
};

Saved write_back(Package pkg, const std::function<void(model::WorkbookModel&)>& edit,
                 std::vector<model::SheetOrigin> origins = {{1, 0}}) {
  auto opened = reader::open_source_package(pkg.parts);
  EXPECT_TRUE(opened.has_value()) << xml::parse_error_message(opened.error());
  if (!opened) return {unexpected(opened.error()), {}};
  if (opened->model.sheets[0].charts.size() != 1) {
    ADD_FAILURE() << "the chart was not read";
    return {unexpected(SpreadsheetParseError::malformed("no chart")), {}};
  }
  model::WorkbookModel model = opened->model;
  edit(model);
  SavePlan plan(opened->source.parts);
  Saved saved{write_back_charts(model.sheets, opened->source, origins, plan), {}};
  for (const auto& [name, bytes] : plan.live_parts()) {
    if (opc::find_package_part(opened->source.parts, name) != std::optional<std::string_view>(bytes)) {
      saved.written.emplace_back(std::string(name), std::string(bytes));
    }
  }
  return saved;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

model::SheetChart& chart_of(model::WorkbookModel& model) { return model.sheets[0].charts[0]; }

TEST(ChartWriteBack, WritesOnlyWhatChanged) {
  struct Case {
    const char* name;
    std::function<void(model::WorkbookModel&)> edit;
    std::vector<std::pair<std::string, std::string>> written;
  };
  const std::string moved_drawing = replaced(drawing_part(), marker("from", 1, 2) + marker("to", 6, 12),
                                             marker("from", 1, 5) + marker("to", 6, 15));
  const std::vector<Case> cases = {
      {"nothing changed", [](model::WorkbookModel&) {}, {}},
      {"cells changed under an unchanged reference keep the cache",
       [](model::WorkbookModel& m) { m.sheets[0].cells[{0, 1}].value = model::CellValue::number(99); }, {}},
      {"reference rewritten, cache regenerated",
       [](model::WorkbookModel& m) { chart_of(m).refs[1].formula = "Sheet1!$B$2:$B$4"; },
       {{"xl/charts/chart1.xml",
         replaced(replaced(chart_part(), "<c:f>Sheet1!$B$1:$B$3</c:f>", "<c:f>Sheet1!$B$2:$B$4</c:f>"), kValuesCache,
                  R"(<c:numCache><c:formatCode>General</c:formatCode><c:ptCount val="3"/><c:pt idx="0"><c:v>2</c:v></c:pt>)"
                  R"(<c:pt idx="1"><c:v>3</c:v></c:pt><c:pt idx="2"><c:v>4</c:v></c:pt></c:numCache>)")}}},
      {"sheet renamed: the new name escaped, cells read from it",
       [](model::WorkbookModel& m) {
         m.sheets[0].name = "A&B";
         chart_of(m).refs[0].formula = "'A&B'!$A$1";
       },
       {{"xl/charts/chart1.xml", replaced(chart_part(), "<c:f>Sheet1!$A$1</c:f>", "<c:f>'A&amp;B'!$A$1</c:f>")}}},
      {"anchor moved with the grid",
       [](model::WorkbookModel& m) {
         auto& two = std::get<model::TwoCellAnchor>(chart_of(m).anchor);
         two.from.row += 3;
         two.to.row += 3;
       },
       {{"xl/drawings/drawing1.xml", moved_drawing}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Saved saved = write_back(chart_package(), c.edit);
    ASSERT_TRUE(saved.result.has_value()) << xml::parse_error_message(saved.result.error());
    EXPECT_EQ(saved.written, c.written);
  }
}

TEST(ChartWriteBack, KeepsTheChartPartsEncoding) {
  Package pkg = chart_package();
  const std::string utf8 = chart_part();
  const std::string utf16 = xml::encode_part_text(
      replaced(utf8, "encoding=\"UTF-8\"", "encoding=\"UTF-16\""), xml::PartEncoding::Utf16Le, /*had_bom=*/true);
  pkg.set("xl/charts/chart1.xml", utf16);
  const Saved saved = write_back(pkg, [](model::WorkbookModel& m) { chart_of(m).refs[0].formula = "Sheet1!$A$2"; });
  ASSERT_TRUE(saved.result.has_value()) << xml::parse_error_message(saved.result.error());
  ASSERT_EQ(saved.written.size(), 1u);
  const auto decoded = xml::decode_part(saved.written[0].second);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->encoding, xml::PartEncoding::Utf16Le);
  EXPECT_TRUE(decoded->had_bom);
  EXPECT_NE(decoded->text.find("<c:f>Sheet1!$A$2</c:f><c:strCache><c:ptCount val=\"1\"/></c:strCache>"),
            std::string::npos);
}

TEST(ChartWriteBack, Refusals) {
  struct Case {
    const char* name;
    std::function<void(Package&)> package;
    std::function<void(model::WorkbookModel&)> edit;
    std::string message;
  };
  auto none = [](Package&) {};
  const std::vector<Case> cases = {
      {"a reference dropped", none, [](model::WorkbookModel& m) { chart_of(m).refs.pop_back(); },
       "chart xl/charts/chart1.xml no longer holds the references it was read from"},
      {"a reference changed kind", none,
       [](model::WorkbookModel& m) { chart_of(m).refs[0].kind = model::ChartReferenceKind::Title; },
       "chart xl/charts/chart1.xml no longer holds the references it was read from"},
      {"a drawing the chart no longer names", none, [](model::WorkbookModel& m) { chart_of(m).anchor_index = 4; },
       "chart xl/charts/chart1.xml no longer names the drawing and anchor it was read from"},
      {"self-closing c:f",
       [](Package& p) { p.set("xl/charts/chart1.xml", replaced(chart_part(), "<c:f>Sheet1!$A$1</c:f>", "<c:f/>")); },
       [](model::WorkbookModel& m) { chart_of(m).refs[0].formula = "Sheet1!$A$2"; },
       "a self-closing c:f cannot take a rewritten reference"},
      {"self-closing cache",
       [](Package& p) { p.set("xl/charts/chart1.xml", replaced(chart_part(), kValuesCache, "<c:numCache/>")); },
       [](model::WorkbookModel& m) { chart_of(m).refs[1].formula = "Sheet1!$B$2:$B$4"; },
       "a self-closing chart cache cannot be regenerated"},
      {"a cache that cannot be regenerated", none,
       [](model::WorkbookModel& m) { chart_of(m).refs[1].formula = "Sheet1!$B$1:$C$3"; },
       "chart reference Sheet1!$B$1:$C$3 spans more than one row and column"},
      {"edit mode changed", none,
       [](model::WorkbookModel& m) {
         std::get<model::TwoCellAnchor>(chart_of(m).anchor).edit_as = model::ChartAnchorEditMode::OneCell;
       },
       "a chart anchor changed more than the grid position a save writes back"},
      {"kind changed", none,
       [](model::WorkbookModel& m) { chart_of(m).anchor = model::OneCellAnchor{{1, 0, 2, 0}, {100, 100}}; },
       "a chart anchor changed more than the grid position a save writes back"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Package pkg = chart_package();
    c.package(pkg);
    const Saved saved = write_back(pkg, c.edit);
    ASSERT_FALSE(saved.result.has_value());
    EXPECT_EQ(saved.result.error().payload, c.message);
  }
}

// Two sheets showing one drawing: anchors that moved alike write the part
// once; anchors that disagree refuse the save, naming both sheets.
TEST(ChartWriteBack, SheetsSharingADrawingMustAgree) {
  Package pkg = chart_package();
  pkg.set("xl/workbook.xml", reader::testing::workbook_part("<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/>"
                                                            "<sheet name=\"Two\" sheetId=\"2\" r:id=\"rId2\"/>"));
  pkg.set("xl/_rels/workbook.xml.rels", rels_part({{"rId1", "worksheet", "worksheets/sheet1.xml", ""},
                                                   {"rId2", "worksheet", "worksheets/sheet2.xml", ""}}));
  pkg.set("xl/worksheets/sheet2.xml", std::string(*opc::find_package_part(pkg.parts, "xl/worksheets/sheet1.xml")));
  pkg.set("xl/worksheets/_rels/sheet2.xml.rels", rels_part({{"rId1", "drawing", "../drawings/drawing1.xml", ""}}));
  auto move = [](model::SheetChart& chart, uint32_t rows) {
    auto& two = std::get<model::TwoCellAnchor>(chart.anchor);
    two.from.row += rows;
    two.to.row += rows;
  };
  const std::vector<model::SheetOrigin> origins = {{1, 0}, {1, 1}};
  const Saved alike = write_back(pkg, [&](model::WorkbookModel& m) {
    move(m.sheets[0].charts[0], 2);
    move(m.sheets[1].charts[0], 2);
  }, origins);
  ASSERT_TRUE(alike.result.has_value());
  ASSERT_EQ(alike.written.size(), 1u);
  EXPECT_EQ(alike.written[0].first, "xl/drawings/drawing1.xml");
  const Saved apart = write_back(pkg, [&](model::WorkbookModel& m) { move(m.sheets[1].charts[0], 2); }, origins);
  ASSERT_FALSE(apart.result.has_value());
  EXPECT_EQ(apart.result.error().payload,
            "xl/drawings/drawing1.xml is anchored by both sheet Sheet1 and sheet Two, which no longer agree on what "
            "it holds, and one part cannot carry both");
  const Saved charts_apart = write_back(pkg, [&](model::WorkbookModel& m) {
    m.sheets[1].charts[0].refs[1].formula = "Sheet1!$B$2:$B$4";
  }, origins);
  ASSERT_FALSE(charts_apart.result.has_value());
  EXPECT_EQ(charts_apart.result.error().payload,
            "xl/charts/chart1.xml is anchored by both sheet Sheet1 and sheet Two, which no longer agree on what it "
            "holds, and one part cannot carry both");
}

}  // namespace
}  // namespace cmx::writer
