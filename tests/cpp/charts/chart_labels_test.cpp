#include "charts/chart_labels.h"

#include <gtest/gtest.h>

#include "chart_xml_util.h"

namespace cmx::charts {
namespace {

std::optional<ChartDataLabels> labels_of(const std::string& fragment, ChartBudgets& budgets) {
  const xml::XmlElement wrap = testing::parse_wrapped(fragment);
  return read_data_labels(&testing::first_element(wrap), budgets, Theme{});
}

std::optional<ChartDataLabels> labels_of(const std::string& fragment) {
  ChartBudgets budgets;
  return labels_of(fragment, budgets);
}

TEST(ChartDataLabels, Settings) {
  struct Case {
    std::string_view name;
    std::string children;
    ChartDataLabels expected;
  };
  std::vector<Case> cases;
  auto add = [&](std::string_view name, std::string children, auto edit) {
    ChartDataLabels expected;
    edit(expected);
    cases.push_back({name, std::move(children), std::move(expected)});
  };
  add("empty", "", [](ChartDataLabels&) {});
  add("show value", "<c:showVal val=\"1\"/>", [](ChartDataLabels& d) { d.show_value = true; });
  add("hide value", "<c:showVal val=\"0\"/>", [](ChartDataLabels& d) { d.show_value = false; });
  add("value other text", "<c:showVal val=\"yes\"/>", [](ChartDataLabels&) {});
  add("all flags",
      "<c:delete val=\"false\"/><c:showLegendKey val=\"0\"/><c:showVal val=\"true\"/><c:showCatName val=\"1\"/>"
      "<c:showSerName val=\"0\"/><c:showPercent val=\"1\"/><c:showBubbleSize val=\"0\"/>",
      [](ChartDataLabels& d) {
        d.deleted = false;
        d.show_legend_key = false;
        d.show_value = true;
        d.show_category_name = true;
        d.show_series_name = false;
        d.show_percent = true;
        d.show_bubble_size = false;
      });
  add("position outside end", "<c:dLblPos val=\"outEnd\"/>", [](ChartDataLabels& d) { d.position = "outEnd"; });
  add("position centre", "<c:dLblPos val=\"ctr\"/>", [](ChartDataLabels& d) { d.position = "ctr"; });
  add("position best fit", "<c:dLblPos val=\"bestFit\"/>", [](ChartDataLabels& d) { d.position = "bestFit"; });
  add("empty position", "<c:dLblPos val=\"\"/>", [](ChartDataLabels& d) { d.position = ""; });
  add("position without value", "<c:dLblPos/>", [](ChartDataLabels&) {});
  add("number format", "<c:numFmt formatCode=\"0.00%\" sourceLinked=\"0\"/>",
      [](ChartDataLabels& d) { d.number_format = "0.00%"; });
  add("empty number format", "<c:numFmt formatCode=\"\"/>", [](ChartDataLabels& d) { d.number_format = ""; });
  add("number format without code", "<c:numFmt sourceLinked=\"1\"/>", [](ChartDataLabels&) {});
  add("separator untrimmed", "<c:separator>; </c:separator>", [](ChartDataLabels& d) { d.separator = "; "; });
  add("empty separator", "<c:separator/>", [](ChartDataLabels&) {});
  add("text style", "<c:txPr><a:p><a:pPr><a:defRPr sz=\"1000\" b=\"1\"/></a:pPr></a:p></c:txPr>",
      [](ChartDataLabels& d) {
        d.text_style = ChartTextStyle{10, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt};
      });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(labels_of("<c:dLbls>" + c.children + "</c:dLbls>"), c.expected);
  }
  ChartBudgets budgets;
  EXPECT_EQ(read_data_labels(nullptr, budgets, Theme{}), std::nullopt);
}

TEST(ChartDataLabels, SingleLabels) {
  struct Case {
    std::string_view name;
    std::string label;
    std::optional<ChartDataLabel> expected;
  };
  std::vector<Case> cases;
  auto make = [](std::optional<uint32_t> idx, auto edit) {
    ChartDataLabel label;
    label.idx = idx;
    edit(label);
    return label;
  };
  const auto none = [](ChartDataLabel&) {};
  cases.push_back({"index with spaces", "<c:idx val=\" 3 \"/>", make(3, none)});
  cases.push_back({"no index", "<c:showVal val=\"1\"/>",
                   make(std::nullopt, [](ChartDataLabel& l) { l.settings.show_value = true; })});
  cases.push_back({"negative index dropped", "<c:idx val=\"-1\"/>", std::nullopt});
  cases.push_back({"signed index dropped", "<c:idx val=\"+1\"/>", std::nullopt});
  cases.push_back({"fractional index dropped", "<c:idx val=\"1.5\"/>", std::nullopt});
  cases.push_back({"index too large dropped", "<c:idx val=\"4294967296\"/>", std::nullopt});
  cases.push_back({"index without value dropped", "<c:idx/>", std::nullopt});
  cases.push_back({"single run text", "<c:idx val=\"0\"/><c:tx><c:rich><a:p><a:r><a:t>Peak</a:t></a:r></a:p>"
                                      "</c:rich></c:tx><c:dLblPos val=\"t\"/>",
                   make(0, [](ChartDataLabel& l) {
                     l.text = "Peak";
                     l.settings.position = "t";
                   })});
  cases.push_back({"run then field",
                   "<c:idx val=\"1\"/><c:tx><c:rich><a:p><a:r><a:rPr/><a:t>Total: </a:t></a:r>"
                   "<a:fld id=\"{1}\" type=\"VALUE\"><a:t>[VALUE]</a:t></a:fld></a:p></c:rich></c:tx>",
                   make(1, [](ChartDataLabel& l) {
                     l.text = "Total: [VALUE]";
                     l.segments = std::vector<DataLabelSegment>{{false, "Total: "}, {true, "VALUE"}};
                   })});
  cases.push_back({"empty first paragraph gives no line feed",
                   "<c:idx val=\"2\"/><c:tx><c:rich><a:p/><a:p><a:fld type=\"CELLRANGE\"/></a:p></c:rich></c:tx>",
                   make(2, [](ChartDataLabel& l) {
                     l.segments = std::vector<DataLabelSegment>{{true, "CELLRANGE"}};
                   })});
  cases.push_back({"line feed between paragraphs",
                   "<c:idx val=\"2\"/><c:tx><c:rich><a:p><a:r><a:t>A</a:t></a:r></a:p><a:p><a:fld/></a:p>"
                   "</c:rich></c:tx>",
                   make(2, [](ChartDataLabel& l) {
                     l.text = "A";
                     l.segments = std::vector<DataLabelSegment>{{false, "A"}, {false, "\n"}, {true, ""}};
                   })});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const xml::XmlElement wrap = testing::parse_wrapped("<c:dLbl>" + c.label + "</c:dLbl>");
    EXPECT_EQ(read_data_label(testing::first_element(wrap), Theme{}), c.expected);
  }
}

TEST(ChartDataLabels, LabelsKeptAndCharged) {
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "<c:dLbl><c:idx val=\"" + std::to_string(i) + "\"/></c:dLbl>";
  ChartBudgets budgets;
  auto labels = labels_of("<c:dLbls>" + many + "<c:showVal val=\"1\"/></c:dLbls>", budgets);
  ASSERT_TRUE(labels && labels->labels);
  EXPECT_EQ(labels->labels->size(), MAX_LABELS_KEPT);
  EXPECT_EQ(labels->labels->back().idx, MAX_LABELS_KEPT - 1);
  EXPECT_EQ(budgets.points, MAX_CHART_POINTS - 5000);
  EXPECT_EQ(labels->show_value, true);

  // Dropped labels are charged too; a budget of 2 reads the first two only.
  budgets.points = 2;
  labels = labels_of("<c:dLbls><c:dLbl><c:idx val=\"x\"/></c:dLbl><c:dLbl><c:idx val=\"1\"/></c:dLbl>"
                     "<c:dLbl><c:idx val=\"2\"/></c:dLbl></c:dLbls>",
                     budgets);
  ASSERT_TRUE(labels && labels->labels);
  ASSERT_EQ(labels->labels->size(), 1u);
  EXPECT_EQ(labels->labels->front().idx, 1u);
  EXPECT_EQ(budgets.points, 0u);

  // With the budget spent the settings are still read.
  labels = labels_of("<c:dLbls><c:dLbl><c:idx val=\"0\"/></c:dLbl><c:showPercent val=\"1\"/></c:dLbls>", budgets);
  ASSERT_TRUE(labels);
  EXPECT_FALSE(labels->labels);
  EXPECT_EQ(labels->show_percent, true);
}

}  // namespace
}  // namespace cmx::charts
