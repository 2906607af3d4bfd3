// Fuzzes formula parsing: no crash or hang on any text, failures point inside
// the text (or at the length cap), and whatever parses prints to a text that
// parses back to the same tree (see round_trip.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "formula/formula.h"
#include "round_trip.h"

using namespace cmx::formula;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = parse_formula(text);
  if (!parsed) {
    const FormulaError& error = parsed.error();
    if (error.position > text.size() && error.kind != FormulaErrorKind::LengthExceeded) std::abort();
    if (error.message().empty()) std::abort();
    return 0;
  }
  std::string problem = testing::check_round_trip(*parsed);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
