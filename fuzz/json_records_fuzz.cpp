// Fuzzes the record readers of peer-supplied texts (style, hyperlink and
// chart records, targets, requests): no input crashes them, errors carry a
// place, and whatever they accept writes back to a text that reads as the
// same record and that the byte counters measure exactly.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/json.h"

using namespace cmx::json;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

template <typename Write>
std::string write_counted(Write&& write) {
  CompactWriter writer;
  write(writer);
  ByteCounter counter;
  write(counter);
  check(counter.total() == writer.text().size());
  return writer.take();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  if (auto format = parse_cell_format(text)) {
    std::string again = write_counted([&](auto& w) { serialize_cell_format(w, *format); });
    auto reread = parse_cell_format(again);
    check(reread.has_value() && cell_format_to_json(*reread) == again);
  } else {
    check(format.error().has_position());
  }

  if (auto links = decode_sheet_hyperlinks(text)) {
    std::string again = write_counted([&](auto& w) { serialize_sheet_hyperlink_list(w, *links); });
    auto reread = decode_sheet_hyperlinks(again);
    check(reread.has_value() && *reread == *links);
  }

  if (auto charts = decode_sheet_charts(text)) {
    std::string again = write_counted([&](auto& w) { serialize_sheet_chart_list(w, *charts); });
    auto reread = decode_sheet_charts(again);
    check(reread.has_value() && *reread == *charts);
  }

  auto target = read_json_text(text, [](JsonReader& r) { return deserialize_range_target(r); });
  if (target) {
    std::string again = write_counted([&](auto& w) { serialize_range_target(w, *target); });
    auto reread = read_json_text(again, [](JsonReader& r) { return deserialize_range_target(r); });
    check(reread.has_value() && *reread == *target);
  }

  (void)read_json_text(text, [](JsonReader& r) { return deserialize_find_request(r); });
  (void)read_json_text(text, [](JsonReader& r) { return deserialize_read_request(r); });
  if (auto tree = parse_json_value(text)) {
    if (auto value = cell_value_from_json_value(*tree)) {
      auto back = parse_json_value(json_value_to_string(cell_value_to_json_value(*value)));
      check(back.has_value());
      auto reread = cell_value_from_json_value(*back);
      check(reread.has_value() && *reread == *value);
    }
    (void)deserialize_range_target_from_content(content_from_value(*tree));
  }
  return 0;
}
