// The pull reader over a generated worksheet of 1,000,000 cells (100,000 rows
// of 10): raw events, and the streamed read with local names, attribute
// lookups and cell text as the worksheet reader does it. Reports MB/s.
#include <benchmark/benchmark.h>

#include <string>

#include "model/address.h"
#include "xml/streaming.h"

namespace {

using namespace cmx::xml;

const std::string& sheet_xml() {
  static const std::string doc = [] {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<dimension ref=\"A1:J100000\"/><sheetData>";
    for (uint32_t row = 0; row < 100000; ++row) {
      const std::string row_text = std::to_string(row + 1);
      out += "<row r=\"" + row_text + "\" spans=\"1:10\">";
      for (uint32_t col = 0; col < 10; ++col) {
        const std::string ref = cmx::model::column_letters(col) + row_text;
        switch (col % 3) {
          case 0:
            out += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string((row * 10 + col) % 5000) + "</v></c>";
            break;
          case 1:
            out += "<c r=\"" + ref + "\" s=\"1\"><v>" + std::to_string(row * 0.25 + col) + "</v></c>";
            break;
          default:
            out += "<c r=\"" + ref + "\"><f>A" + row_text + "*2</f><v>" + std::to_string(row * 2) + "</v></c>";
            break;
        }
      }
      out += "</row>";
    }
    out += "</sheetData></worksheet>";
    return out;
  }();
  return doc;
}

void report(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations() * bytes) / 1e6,
                                              benchmark::Counter::kIsRate);
}

void BM_PullReaderEvents(benchmark::State& state) {
  const std::string& doc = sheet_xml();
  for (auto _ : state) {
    XmlPullReader reader(doc, {.expand_empty_elements = true});
    size_t starts = 0;
    while (true) {
      auto event = reader.next();
      if (!event.has_value() || *event == XmlEvent::Eof) break;
      starts += *event == XmlEvent::StartTag;
    }
    benchmark::DoNotOptimize(starts);
  }
  report(state, doc.size());
}
BENCHMARK(BM_PullReaderEvents)->Unit(benchmark::kMillisecond);

// What a worksheet reader does per cell: match the local name, look up r, t
// and s, and collect the value text.
void BM_StreamedCells(benchmark::State& state) {
  const std::string& doc = sheet_xml();
  for (auto _ : state) {
    PartStream stream(doc);
    size_t cells = 0;
    size_t text_bytes = 0;
    std::string value;
    while (true) {
      auto event = stream.next();
      if (!event.has_value() || *event == XmlEvent::Eof) break;
      if (*event != XmlEvent::StartTag) continue;
      const std::string_view name = stream.local_name();
      if (name == "c") {
        ++cells;
        const XmlAttribute* r = stream.reader().find_attribute("r");
        const XmlAttribute* t = stream.reader().find_attribute("t");
        const XmlAttribute* s = stream.reader().find_attribute("s");
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(s);
      } else if (name == "v" || name == "f") {
        auto text = read_element_text(stream);
        if (text.has_value()) text_bytes += text->size();
      }
    }
    if (cells != 1000000) state.SkipWithError("wrong cell count");
    benchmark::DoNotOptimize(text_bytes);
  }
  report(state, doc.size());
  state.counters["cells/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e6,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StreamedCells)->Unit(benchmark::kMillisecond);

}  // namespace
