// XmlPullReader: one pass of events over UTF-8 XML held in memory, with the
// byte offsets before and after each event. Nothing is normalised: text and
// attribute values come as written, with the five predefined entities and
// character references resolved on request; any other reference in text is
// its own event for the caller to judge. Opening a workbook spends most of
// its time in next(), so the common path allocates nothing.
// Readers built on it: streaming.h, start_tag.h, namespaces.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "xml/error.h"

namespace cmx::xml {

enum class XmlEvent : uint8_t {
  StartTag,     // <a ...>
  EmptyTag,     // <a .../>, unless empty tags are expanded
  EndTag,       // </a>, or the second half of an expanded <a/>
  Text,         // character data; may hold resolvable references
  CData,        // <![CDATA[...]]>: raw() is the content
  Reference,    // &name; that is neither a predefined entity nor a valid character reference
  Comment,      // <!--...-->: raw() is the content, not validated
  Instruction,  // <?target ...?>
  Declaration,  // <?xml ...?>
  DocType,      // <!DOCTYPE ...>, internal subset included
  Eof,
};

struct XmlReaderOptions {
  // Report <a/> as StartTag then EndTag (the second with an empty span at the
  // tag's end), so that streaming readers only look at start tags.
  bool expand_empty_elements = false;
};

// One attribute as written. `value` is the raw text between the quotes.
struct XmlAttribute {
  std::string_view name;
  std::string_view value;
  bool has_references = false;
};

class XmlPullReader {
 public:
  explicit XmlPullReader(std::string_view text, XmlReaderOptions options = {}, bool final = true);

  // The next event; after Eof every call returns Eof again. Reaching the end
  // with elements still open is not an error here: callers decide.
  Result<XmlEvent, XmlError> next();

  // Byte offsets of the last event in the whole input: where it began and
  // where it ended.
  size_t offset_before() const { return base_ + before_; }
  size_t offset_after() const { return base_ + pos_; }
  // Elements open now (after a StartTag, it is counted).
  size_t open_elements() const { return stack_.size(); }

  // The qualified name of a tag, the entity name of a Reference (without
  // "&" and ";"), the target of an Instruction.
  std::string_view name() const { return name_; }
  // Text as written, CDATA/comment/DOCTYPE content, the body of an
  // instruction or declaration after its target, the inside of a tag.
  std::string_view raw() const { return raw_; }
  bool text_has_references() const { return has_references_; }
  // Appends the Text (references resolved) or CDATA content.
  void append_text(std::string& out) const;

  const std::vector<XmlAttribute>& attributes() const { return attributes_; }
  // The first attribute whose local name (after the first ":") matches.
  const XmlAttribute* find_attribute(std::string_view local_name) const;
  // The value with references resolved: the raw value itself when it holds
  // none, else a decoding in `scratch`.
  static std::string_view attribute_value(const XmlAttribute& attr, std::string& scratch);

  // The input as a window over a longer text (see PartStream): `text` is
  // only a part of it unless `final`. An event that meets the end of a window
  // that is not final may be cut short: a Text reaching it, an error, Eof.
  // The caller then rewinds and moves the window on with more bytes.
  bool window_final() const { return final_; }
  // Where the next event starts, and the window's size, within the window.
  size_t window_position() const { return pos_; }
  size_t window_size() const { return text_.size(); }
  // Takes the last event back, so that it is read again from its start.
  void rewind_event() { pos_ = before_; }
  // Continues in `text`, which begins with the current window's bytes from
  // `dropped` on (at most the next event's start); the caller holds no view
  // of the last event. Not while an expanded empty element is pending.
  void move_window(std::string_view text, size_t dropped, bool final);
  bool end_pending() const { return pending_end_; }

  // The input not read yet, for a caller that recognises a common shape of
  // markup itself; empty while the end of an expanded empty element is still
  // to be reported.
  std::string_view unread() const {
    return pending_end_ ? std::string_view() : text_.substr(pos_);
  }
  // Reads on as if `bytes` of complete, balanced, well-formed elements stood
  // here: they were cut from the input, and only offsets count them.
  void skip_absent(size_t bytes) {
    base_ += bytes;
    skip_balanced(0);
  }
  // Moves past `bytes` of unread input that the caller has checked to be
  // complete, balanced, well-formed elements; no events are reported for them.
  void skip_balanced(size_t bytes) {
    pos_ += bytes;
    before_ = pos_;
    name_ = {};
    raw_ = {};
    has_references_ = false;
    attributes_.clear();
  }

 private:
  Result<XmlEvent, XmlError> read_markup();
  Result<XmlEvent, XmlError> read_start_tag();
  Result<XmlEvent, XmlError> read_end_tag();
  Result<XmlEvent, XmlError> read_bang();
  Result<XmlEvent, XmlError> read_instruction();
  Result<XmlEvent, XmlError> read_text();
  Result<void, XmlError> check_duplicates(size_t tag_start) const;
  // An error at a position in the window, reported at its offset in the input.
  XmlError error_here(XmlErrorKind kind, size_t offset, std::string_view name = {},
                      std::string_view other = {}) const;

  std::string_view text_;
  XmlReaderOptions options_;
  bool final_ = true;
  // The offset of the window's first byte in the whole input.
  size_t base_ = 0;
  size_t pos_ = 0;
  size_t before_ = 0;
  std::string_view name_;
  std::string_view raw_;
  bool has_references_ = false;
  bool pending_end_ = false;
  std::vector<XmlAttribute> attributes_;
  std::vector<std::string_view> stack_;
  // Names of open elements whose bytes left the window.
  std::string stack_store_;
};

// The text after the first ":" of a qualified name, or the whole name.
inline std::string_view local_name(std::string_view qualified) {
  const size_t colon = qualified.find(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// Resolves a reference name (between "&" and ";"): the five entities and
// decimal "#65" or hexadecimal "#x41" references to a scalar other than
// U+0000. Appends the character and returns true, or returns false.
bool resolve_reference(std::string_view name, std::string& out);

// Appends `raw` with every resolvable reference replaced; the caller has
// already checked that it holds only resolvable ones.
void append_unescaped(std::string_view raw, std::string& out);

}  // namespace cmx::xml
