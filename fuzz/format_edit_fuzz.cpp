// Fuzzes the texts that style edits take from callers: decimal steps on
// number-format codes and colour texts. No crash; a step changes the code by
// at most two bytes and never touches the sections after the first; a colour
// is accepted exactly when it is six hexadecimal digits after an optional "#".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ops/formatting.h"

using namespace cmx;

namespace {

void check_step(const std::string& code, int step) {
  const model::NumberFormat out = ops::adjust_decimals(model::CustomPattern{code}, step);
  const auto* custom = std::get_if<model::CustomPattern>(&out);
  if (!custom) std::abort();
  const std::string& changed = custom->pattern;
  const size_t longer = changed.size() > code.size() ? changed.size() - code.size() : code.size() - changed.size();
  if (longer > 2) std::abort();
  const size_t rest = code.find(';');
  if (rest != std::string::npos && changed.find(';') != std::string::npos &&
      std::string_view(changed).substr(changed.find(';')) != std::string_view(code).substr(rest)) {
    std::abort();
  }
}

bool is_hex(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  check_step(text, +1);
  check_step(text, -1);

  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '#') digits.remove_prefix(1);
  bool valid = digits.size() == 6;
  for (char ch : digits) valid = valid && is_hex(ch);
  auto color = ops::parse_hex_color(text);
  if (color.has_value() != valid) std::abort();
  if (color.has_value()) {
    const std::string& out = color.value();
    if (out.size() != 7 || out[0] != '#') std::abort();
    for (char ch : out.substr(1)) {
      if (!is_hex(ch) || (ch >= 'A' && ch <= 'F')) std::abort();
    }
  } else if (ops::ops_error_message(color.error()) != "invalid color " + text + "; expected #rrggbb") {
    std::abort();
  }
  return 0;
}
