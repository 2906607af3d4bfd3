// The common shape of a worksheet cell, recognised straight from the bytes:
// nearly every cell of a real sheet is one of
//   <c r="B7" s="3" t="s"><v>12</v></c>          <c r="B7" s="3"/>
//   <c r="B7"><f>A7*2</f><v>14</v></c>          <c r="B7" t="inlineStr"><is><t>x</t></is></c>
// Reading such a cell through the pull reader costs five or more events; a
// reader that meets one here may skip it whole, because every element this
// accepts is one the pull reader reads without error, balanced, without
// namespace declarations or prefixed names (xml:space aside) and without
// references. Anything else is left to the pull reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cmx::xml {

struct PlainCell {
  // Attribute values as written; each is set only with its flag.
  std::string_view ref;
  std::string_view style;
  std::string_view type;
  std::string_view formula;  // the text of an `f` without attributes
  std::string_view value;    // the text of `v`
  std::string_view inline_text;  // the text of `is` holding one `t`
  bool has_ref = false;
  bool has_style = false;
  bool has_type = false;
  bool has_formula = false;
  bool has_value = false;
  bool has_inline = false;
  uint8_t depth = 1;  // elements nested, the `c` included: 1 to 3
  size_t length = 0;  // bytes of the whole element
};

// Whether `in` starts with a cell of the shapes above (attributes r, s and t
// at most once each, in any order; an `f` without attributes, then a `v` or
// an `is` holding one `t`, optionally with xml:space="preserve"). Attribute
// values are printable ASCII other than the quote, "<" and "&"; texts hold
// neither "<" nor "&" and are valid UTF-8. The views of `out` are set only
// with their flags, so that callers may reuse one record.
bool scan_plain_cell(std::string_view in, PlainCell& out);

// The same answer and record as scan_plain_cell, found with fewer
// instructions per byte but a longer wait for each field's end: the better
// choice for a reader with work of its own between cells, the worse for a
// loop that does little but scan.
bool scan_plain_cell_wide(std::string_view in, PlainCell& out);

}  // namespace cmx::xml
