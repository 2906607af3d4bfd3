// Streamed reads of package parts: one pass of pull-reader events with empty
// tags expanded, a nesting cap, elements and attributes recognised by local
// name; and the relationship reads built on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/byte_source.h"
#include "base/result.h"
#include "opc/package_archive.h"
#include "opc/relationships.h"
#include "xml/parse_error.h"
#include "xml/pull_reader.h"

namespace cmx::xml {

inline constexpr size_t MAX_STREAM_DEPTH = 64;
// The window a part read from a ByteSource is held in: small enough to stay
// in cache, big enough that moving it on costs nothing measurable.
inline constexpr size_t kStreamWindow = size_t{256} << 10;

// Reader errors become Xml with the reader's message; a start tag that opens
// more than MAX_STREAM_DEPTH elements is DepthExceeded, checked first.
class PartStream {
 public:
  explicit PartStream(std::string_view bytes)
      : reader_(bytes, XmlReaderOptions{.expand_empty_elements = true}) {}
  // The part as `source` delivers it, held a window at a time: events,
  // offsets and errors are those of the whole part. Views live until the
  // next call of next() or unread(), whichever comes first.
  explicit PartStream(ByteSource& source, size_t window = kStreamWindow);

  Result<XmlEvent, SpreadsheetParseError> next();

  size_t depth() const { return depth_; }
  // Start tags read so far with an attribute named "xmlns…", which may
  // declare a namespace: for a caller that must know a stretch declared none.
  uint64_t declaring_tags() const { return declaring_tags_; }
  // The current tag's local name: after the first ":" of its qualified name.
  std::string_view local_name() const { return xml::local_name(reader_.name()); }
  const XmlPullReader& reader() const { return reader_; }
  // See XmlPullReader::unread and skip_balanced; the depth is unchanged.
  // A windowed stream may move its window on first, so that the view holds
  // what an element of common size needs.
  std::string_view unread() {
    if (window_runs_low()) move_window();
    return reader_.unread();
  }
  void skip_balanced(size_t bytes) { reader_.skip_balanced(bytes); }

  // A windowed stream keeps the part's bytes but for one span, the hole:
  // from `begin` on once hole_from is called, up to `end` once hole_to is.
  void hole_from(uint64_t begin) { hole_begin_ = begin; }
  void hole_to(uint64_t end) { hole_end_ = end; }
  // After Eof: the bytes kept, those before the hole and after its end.
  std::string take_kept() { return std::move(kept_); }

  // The first attribute of the current start tag with this local name, with
  // references resolved; absent when there is none. The view lives until the
  // next call. Xml when the value is not UTF-8.
  Result<std::optional<std::string_view>, SpreadsheetParseError> attribute(std::string_view local);
  Result<std::optional<std::string>, SpreadsheetParseError> attribute_string(std::string_view local);

 private:
  static constexpr size_t kRefillBelow = 4096;

  // Whether the window should move on before the next event: less than an
  // element of common size is left, and more of the part is to come.
  bool window_runs_low() const {
    return source_ != nullptr && !reader_.window_final() && !reader_.end_pending() &&
           reader_.window_size() - reader_.window_position() < kRefillBelow;
  }
  std::string_view fill_first_window();
  // Moves the window on to start at the next event, with more bytes.
  void move_window();
  // Keeps what of [from, to) lies outside the hole.
  void keep_outside(uint64_t from, std::string_view bytes);

  // Windowed input; declared before the reader, which starts in the first
  // window.
  ByteSource* source_ = nullptr;
  size_t window_ = 0;
  std::unique_ptr<char[]> buffers_[2];
  size_t capacities_[2] = {0, 0};
  int current_ = 0;
  bool source_ended_ = true;
  uint64_t window_base_ = 0;
  uint64_t hole_begin_ = UINT64_MAX;
  uint64_t hole_end_ = UINT64_MAX;
  std::string kept_;
  bool kept_all_ = false;

  XmlPullReader reader_;
  size_t depth_ = 0;
  uint64_t declaring_tags_ = 0;
  std::string scratch_;
};

// The text of the element whose start tag was just read: text, CDATA and
// resolved references at any depth, up to its end tag. Malformed "unexpected
// eof in text" when the part ends first, "unresolvable entity &name;" for
// another reference; Xml when the text is not UTF-8.
Result<std::string, SpreadsheetParseError> read_element_text(PartStream& stream);
// The same, into a buffer the caller reuses (cleared first), so that reading a
// value per cell costs no allocation.
Result<void, SpreadsheetParseError> read_element_text_into(PartStream& stream, std::string& out);

// Optional "+", then decimal digits up to 4294967295; nothing else.
std::optional<uint32_t> parse_u32_attribute(std::string_view text);

// Every Relationship element with an Id and a Target, at any depth and with
// any prefix; a later Id replaces an earlier one.
Result<opc::RelationshipMap, SpreadsheetParseError> read_relationship_map(std::string_view bytes);

// The part named by the first workbook relationship whose Type ends in
// "/" + word, resolved against "xl"; the default name when there are no
// workbook relationships or no such relationship; none when the part is
// missing.
Result<std::optional<std::string_view>, SpreadsheetParseError> find_part_by_relationship_type(
    std::span<const opc::PackagePart> parts, std::optional<std::string_view> workbook_rels,
    std::string_view word, std::string_view default_name);

}  // namespace cmx::xml
