// JSON reading (whole trees, buffered values, skipping), tree writing, the
// member writers and counters, and float text. The document is the one
// bench/json_peer.py hands to Python's json for the peer figures.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "json/json.h"

using namespace cmx::json;

namespace {

// An array of cell-like records: strings with escapes, integers, floats,
// booleans and a short list each.
std::string make_document(size_t cells) {
  std::string text = "[";
  for (size_t i = 0; i < cells; ++i) {
    if (i > 0) text += ",";
    std::string name = "name " + std::to_string(i) + " \"quoted\" caf\xc3\xa9";
    text += "{\"id\":\"c" + std::to_string(i) + "\",\"row\":" + std::to_string(i) +
            ",\"col\":" + std::to_string(i % 50) + ",\"value\":" + format_json_f64(static_cast<double>(i) * 0.37) +
            ",\"text\":";
    append_json_string(text, name);
    text += ",\"flag\":";
    text += i % 3 == 0 ? "true" : "false";
    text += ",\"tags\":[\"a\",\"b\"]}";
  }
  text += "]";
  return text;
}

const std::string& document() {
  static const std::string text = make_document(20000);
  return text;
}

void BM_ReadValue(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    auto value = parse_json_value(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadValue);

void BM_ReadContent(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    JsonReader reader(text);
    auto value = reader.read_content();
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadContent);

void BM_SkipValue(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    JsonReader reader(text);
    auto skipped = reader.skip_value();
    benchmark::DoNotOptimize(skipped);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SkipValue);

void BM_SkipDeep(benchmark::State& state) {
  std::string text(static_cast<size_t>(state.range(0)), '[');
  text.append(static_cast<size_t>(state.range(0)), ']');
  for (auto _ : state) {
    JsonReader reader(text);
    auto skipped = reader.skip_value();
    benchmark::DoNotOptimize(skipped);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SkipDeep)->Arg(1000000);

void BM_WriteTree(benchmark::State& state) {
  auto value = parse_json_value(document());
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = json_value_to_string(*value);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteTree);

template <typename Emitter>
void emit_cells(Emitter& e, size_t cells) {
  e.begin_array();
  for (size_t i = 0; i < cells; ++i) {
    e.begin_element();
    e.begin_object();
    e.field_str("id", "c12345");
    e.field_u32("row", static_cast<uint32_t>(i));
    e.field_u32("col", static_cast<uint32_t>(i % 50));
    e.field_f64("value", static_cast<double>(i) * 0.37);
    e.field_str("text", "name \"quoted\" caf\xc3\xa9");
    e.field_bool("flag", i % 3 == 0);
    e.end_object();
  }
  e.end_array();
}

void BM_CompactWriter(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    CompactWriter writer;
    emit_cells(writer, 20000);
    bytes = writer.text().size();
    benchmark::DoNotOptimize(writer.text().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_CompactWriter);

void BM_ByteCounter(benchmark::State& state) {
  for (auto _ : state) {
    ByteCounter counter;
    emit_cells(counter, 20000);
    benchmark::DoNotOptimize(counter.total());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 20000));
}
BENCHMARK(BM_ByteCounter);

void BM_FloatText(benchmark::State& state) {
  std::vector<double> values;
  for (int i = 0; i < 1024; ++i) values.push_back((i * 7919 % 1000003) * 1.37e-3 + i);
  size_t i = 0;
  std::string out;
  for (auto _ : state) {
    out.clear();
    append_json_f64(out, values[i++ & 1023]);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FloatText);

// --- the records the collaborative document keeps -----------------------------------

// 20,000 hyperlinks, the same list bench/json_peer.py builds for Python's json.
const std::vector<cmx::model::SheetHyperlink>& hyperlinks() {
  static const std::vector<cmx::model::SheetHyperlink> links = [] {
    std::vector<cmx::model::SheetHyperlink> out;
    for (uint32_t i = 0; i < 20000; ++i) {
      cmx::model::SheetHyperlink link;
      link.range = {{i, i % 50, false, false}, {i + 1, i % 50 + 2, true, false}};
      link.external_target = "https://example.com/page/" + std::to_string(i) + "?q=\"x\"";
      if (i % 2) link.location = "Sheet2!A" + std::to_string(i + 1);
      link.tooltip = "tip " + std::to_string(i);
      out.push_back(std::move(link));
    }
    return out;
  }();
  return links;
}

void BM_SheetHyperlinksDecode(benchmark::State& state) {
  const std::string text = sheet_hyperlinks_to_json(hyperlinks());
  for (auto _ : state) {
    auto links = decode_sheet_hyperlinks(text);
    benchmark::DoNotOptimize(links);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SheetHyperlinksDecode);

void BM_SheetHyperlinksEncode(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = sheet_hyperlinks_to_json(hyperlinks());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_SheetHyperlinksEncode);

// The catalog check of one stored cell format: parse, write again, compare.
void BM_CellFormatRoundTrip(benchmark::State& state) {
  cmx::model::CellFormat format;
  format.font.name = "Calibri";
  format.font.size_pt = 11.0;
  format.font.color = cmx::model::ThemeColor{1, -0.25};
  format.fill = cmx::model::SolidFill{cmx::model::RgbColor{"#ffff00"}};
  format.border.bottom = cmx::model::BorderEdge{cmx::model::BorderStyle::Thin, cmx::model::AutoColor{}};
  format.number_format = cmx::model::CustomPattern{"0.00%"};
  const std::string text = cell_format_to_json(format);
  for (auto _ : state) {
    auto parsed = parse_cell_format(text);
    bool same = parsed.has_value() && cell_format_to_json(*parsed) == text;
    benchmark::DoNotOptimize(same);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_CellFormatRoundTrip);

// An edit request of 128 steps, each a 10 by 10 block of inputs with a guard
// of the same shape; bench/json_peer.py loads the same text.
std::string make_edit_request() {
  std::string text = R"({"expectVersion":"1-7","source":"agent","steps":[)";
  for (int step = 0; step < 128; ++step) {
    if (step > 0) text += ",";
    text += R"({"op":"setCellInputs","target":{"sheetId":"s","range":{"kind":"a1","a1":"A1:J10"}},"inputs":[)";
    std::string guard = R"("expect":{"cells":[)";
    for (int row = 0; row < 10; ++row) {
      text += row > 0 ? ",[" : "[";
      guard += row > 0 ? ",[" : "[";
      for (int col = 0; col < 10; ++col) {
        if (col > 0) {
          text += ",";
          guard += ",";
        }
        text += "\"=A" + std::to_string(row + 1) + "*" + std::to_string(col) + "\"";
        guard += R"({"value":{"kind":"number","value":)" + std::to_string(row * col) + "}}";
      }
      text += "]";
      guard += "]";
    }
    text += "]," + guard + "]}}";
  }
  text += "]}";
  return text;
}

void BM_ParseEditRequest(benchmark::State& state) {
  static const std::string text = make_edit_request();
  for (auto _ : state) {
    auto request = parse_edit_request(text);
    benchmark::DoNotOptimize(request);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseEditRequest);

// The same text as a plain value tree: what the records add to the reading.
void BM_EditRequestAsTree(benchmark::State& state) {
  static const std::string text = make_edit_request();
  for (auto _ : state) {
    auto value = parse_json_value(text);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EditRequestAsTree);

}  // namespace
