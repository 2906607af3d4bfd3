// Fuzzes the edit request reader, the text agents send: no input crashes it
// or nests it too deep, every refusal carries a place inside the text, and
// whatever it accepts is well-formed JSON that reads the same way twice.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/json.h"

using namespace cmx::json;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto request = parse_edit_request(text);
  if (!request) {
    const JsonError& error = request.error();
    check(error.has_position());
    check(error.line <= size + 1 && error.column <= size + 1);
    return 0;
  }
  check(parse_json_value(text).has_value());
  auto again = parse_edit_request(text);
  check(again.has_value() && *again == *request);
  return 0;
}
