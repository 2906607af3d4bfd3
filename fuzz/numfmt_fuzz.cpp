// Fuzzes number-format codes: parsing, section choice and rendering of every
// kind of value. No crash or hang, parsing through the cache agrees with
// parsing directly, and the text stays within a bound linear in the code.
// Input: one byte of flags, eight bytes of a double, then the code.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "model/format_render.h"
#include "model/number_format.h"

using namespace cmx::model;

namespace {

void check_text(const FormattedText& out, std::string_view code, size_t text_bytes) {
  // Every code byte yields a bounded amount of text (a General number or a
  // year at most); a number's own digits add a constant.
  const size_t bound = (code.size() + 1) * (64 + text_bytes) + 2048;
  if (out.text.size() > bound) std::abort();
  if (out.color && (out.color->size() != 7 || (*out.color)[0] != '#')) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint8_t flags = data[0];
  double number;
  std::memcpy(&number, data + 1, sizeof number);
  std::string_view code(reinterpret_cast<const char*>(data + 9), size - 9);
  const DateSystem system = (flags & 1) ? DateSystem::V1904 : DateSystem::V1900;

  ParsedNumberFormat parsed = parse_format(code);
  if (parsed.section_count() < 1 || parsed.section_count() > 4) std::abort();
  ParsedNumberFormat cached = parse_format_cached(code);
  if (cached.section_count() != parsed.section_count()) std::abort();
  for (size_t i = 0; i < parsed.section_count(); ++i) {
    if (!(cached.section(i) == parsed.section(i))) std::abort();
  }
  SectionChoice choice = select_format_section(parsed, number);
  if (choice.index >= parsed.section_count() || choice.index == 3) std::abort();

  check_text(format_cell_value(CellValue::number(number), code, system), code, 0);
  // Some small integers and times too, whatever the double bytes held.
  check_text(format_value(code, system, static_cast<double>(flags) / 7.0), code, 0);
  constexpr std::string_view kText = "fuzz";
  check_text(format_cell_value(CellValue::text(kText), code, system), code, kText.size());
  if (flags & 2) {
    FormattedText b = format_cell_value(CellValue::boolean(true), code, system);
    if (b.text != "TRUE" || b.color) std::abort();
  }
  return 0;
}
