#include "xml/streaming.h"

#include <algorithm>
#include <cstring>

#include "xml/start_tag.h"

namespace cmx::xml {

namespace {

bool equals_ascii_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

PartStream::PartStream(ByteSource& source, size_t window)
    : source_(&source),
      window_(std::max<size_t>(window, 1)),
      reader_(fill_first_window(), XmlReaderOptions{.expand_empty_elements = true}, false) {
  if (source_ended_) reader_.move_window(std::string_view(buffers_[0].get(), reader_.window_size()), 0, true);
}

std::string_view PartStream::fill_first_window() {
  // A byte order mark is recognised only whole at the start.
  const size_t first = std::max<size_t>(window_, 3);
  buffers_[0].reset(new char[first]);
  capacities_[0] = first;
  size_t filled = 0;
  source_ended_ = false;
  while (filled < first) {
    const size_t got = source_->read(buffers_[0].get() + filled, first - filled);
    if (got == 0) {
      source_ended_ = true;
      break;
    }
    filled += got;
  }
  return std::string_view(buffers_[0].get(), filled);
}

void PartStream::keep_outside(uint64_t from, std::string_view bytes) {
  const uint64_t to = from + bytes.size();
  const uint64_t before_hole = std::min(to, hole_begin_);
  if (before_hole > from) kept_.append(bytes.substr(0, before_hole - from));
  const uint64_t after_hole = std::max(from, hole_end_);
  if (hole_end_ != UINT64_MAX && after_hole < to) kept_.append(bytes.substr(after_hole - from));
}

void PartStream::move_window() {
  const char* old = buffers_[current_].get();
  const size_t keep_from = reader_.window_position();
  const size_t keep = reader_.window_size() - keep_from;
  keep_outside(window_base_, std::string_view(old, keep_from));
  // An event longer than the window doubles it, until the part ends.
  const size_t want = std::max(window_, keep * 2 + 1);
  const int next = 1 - current_;
  if (capacities_[next] < want) {
    buffers_[next].reset(new char[want]);
    capacities_[next] = want;
  }
  char* fresh = buffers_[next].get();
  if (keep > 0) std::memcpy(fresh, old + keep_from, keep);
  size_t filled = keep;
  while (filled < want) {
    const size_t got = source_->read(fresh + filled, want - filled);
    if (got == 0) {
      source_ended_ = true;
      break;
    }
    filled += got;
  }
  reader_.move_window(std::string_view(fresh, filled), keep_from, source_ended_);
  window_base_ += keep_from;
  current_ = next;
}

Result<XmlEvent, SpreadsheetParseError> PartStream::next() {
  if (window_runs_low()) move_window();
  auto event = reader_.next();
  // An event that meets the end of a window may be cut short: read it again
  // with more of the part.
  while (source_ != nullptr && !reader_.window_final() &&
         (!event.has_value() || *event == XmlEvent::Eof ||
          (*event == XmlEvent::Text && reader_.window_position() == reader_.window_size()))) {
    reader_.rewind_event();
    move_window();
    event = reader_.next();
  }
  if (source_ != nullptr && event.has_value() && *event == XmlEvent::Eof && !kept_all_) {
    keep_outside(window_base_, std::string_view(buffers_[current_].get(), reader_.window_size()));
    kept_all_ = true;
  }
  if (!event.has_value()) return unexpected(SpreadsheetParseError::xml(xml_error_message(event.error())));
  switch (*event) {
    case XmlEvent::StartTag:
      if (++depth_ > MAX_STREAM_DEPTH) return unexpected(SpreadsheetParseError::of(ParseErrorKind::DepthExceeded));
      for (const XmlAttribute& attr : reader_.attributes()) {
        if (attr.name.starts_with("xmlns")) {
          ++declaring_tags_;
          break;
        }
      }
      break;
    case XmlEvent::EndTag:
      if (depth_ > 0) --depth_;
      break;
    default:
      break;
  }
  return *event;
}

Result<std::optional<std::string_view>, SpreadsheetParseError> PartStream::attribute(
    std::string_view local) {
  const XmlAttribute* attr = reader_.find_attribute(local);
  if (attr == nullptr) return std::optional<std::string_view>();
  const std::string_view value = XmlPullReader::attribute_value(*attr, scratch_);
  CMX_TRY(check_utf8(value));
  return std::optional<std::string_view>(value);
}

Result<std::optional<std::string>, SpreadsheetParseError> PartStream::attribute_string(
    std::string_view local) {
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> value, attribute(local));
  if (!value.has_value()) return std::optional<std::string>();
  return std::optional<std::string>(std::string(*value));
}

Result<void, SpreadsheetParseError> read_element_text_into(PartStream& stream, std::string& out) {
  const size_t depth = stream.depth();
  out.clear();
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    switch (event) {
      case XmlEvent::Text:
      case XmlEvent::CData:
        stream.reader().append_text(out);
        break;
      case XmlEvent::Reference:
        return unexpected(SpreadsheetParseError::malformed("unresolvable entity &" +
                                                           std::string(stream.reader().name()) + ";"));
      case XmlEvent::EndTag:
        if (stream.depth() < depth) return check_utf8(out);
        break;
      case XmlEvent::Eof:
        return unexpected(SpreadsheetParseError::malformed("unexpected eof in text"));
      default:
        break;
    }
  }
}

Result<std::string, SpreadsheetParseError> read_element_text(PartStream& stream) {
  std::string text;
  CMX_TRY(read_element_text_into(stream, text));
  return text;
}

std::optional<uint32_t> parse_u32_attribute(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(ch - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

Result<opc::RelationshipMap, SpreadsheetParseError> read_relationship_map(std::string_view bytes) {
  opc::RelationshipMap map;
  PartStream stream(bytes);
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) return map;
    if (event != XmlEvent::StartTag || stream.local_name() != "Relationship") continue;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> id, stream.attribute_string("Id"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> target, stream.attribute_string("Target"));
    if (!id.has_value() || !target.has_value()) continue;
    opc::RelationshipTarget rel;
    rel.target = std::move(*target);
    CMX_ASSIGN_OR_RETURN(rel.rel_type, stream.attribute_string("Type"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> mode, stream.attribute("TargetMode"));
    rel.external = mode.has_value() && equals_ascii_ci(*mode, "External");
    map.insert_or_assign(std::move(*id), std::move(rel));
  }
}

Result<std::optional<std::string_view>, SpreadsheetParseError> find_part_by_relationship_type(
    std::span<const opc::PackagePart> parts, std::optional<std::string_view> workbook_rels,
    std::string_view word, std::string_view default_name) {
  if (!workbook_rels.has_value()) return opc::find_package_part(parts, default_name);
  PartStream stream(*workbook_rels);
  while (true) {
    CMX_ASSIGN_OR_RETURN(const XmlEvent event, stream.next());
    if (event == XmlEvent::Eof) break;
    if (event != XmlEvent::StartTag || stream.local_name() != "Relationship") continue;
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> type, stream.attribute_string("Type"));
    CMX_ASSIGN_OR_RETURN(std::optional<std::string> target, stream.attribute_string("Target"));
    if (!type.has_value() || !target.has_value()) continue;
    const std::string_view t = *type;
    if (t.size() > word.size() && t.ends_with(word) && t[t.size() - word.size() - 1] == '/') {
      return opc::find_package_part(parts, opc::resolve_relationship_target("xl", *target));
    }
  }
  return opc::find_package_part(parts, default_name);
}

}  // namespace cmx::xml
