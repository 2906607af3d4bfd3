// The quoted, escaped form in which messages and representations show a text
// that may hold anything: a sheet name in a refusal, a text in a debug form.
#pragma once

#include <string>
#include <string_view>

namespace cmx::session {

// Between double quotes; a backslash before '"' and '\'; \t \r \n \0 for tab,
// carriage return, line feed and NUL; \u{hex} (lowercase, no leading zeros)
// for other control and unprintable characters. Bytes that are not UTF-8 show
// as \u{fffd}.
std::string quote_text(std::string_view text);

}  // namespace cmx::session
