// Fuzzes the XML pull reader and the readers over it: no crash or hang, and
// every accepted document is consistent: event spans tile the input in
// order, expanding empty tags changes nothing else, and the events written
// back out as XML read again to the same events.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "xml/namespaces.h"
#include "xml/start_tag.h"
#include "xml/streaming.h"

using namespace cmx::xml;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

struct Item {
  XmlEvent event;
  std::string name;
  std::string text;
  std::vector<std::pair<std::string, std::string>> attributes;
  bool operator==(const Item&) const = default;
};

// Events with text and attribute values resolved; false when refused.
bool read_items(std::string_view doc, XmlReaderOptions options, std::vector<Item>& items) {
  XmlPullReader reader(doc, options);
  std::string scratch;
  size_t last_end = reader.offset_after();
  for (size_t guard = 0; guard <= doc.size() * 2 + 4; ++guard) {
    auto event = reader.next();
    if (!event.has_value()) return false;
    // Spans are contiguous: each begins where the last ended.
    check(reader.offset_before() == last_end);
    check(reader.offset_before() <= reader.offset_after() && reader.offset_after() <= doc.size());
    last_end = reader.offset_after();
    const std::string_view raw = reader.raw();
    if (!raw.empty()) {
      check(raw.data() >= doc.data() + reader.offset_before() && raw.data() + raw.size() <= doc.data() + last_end);
    }
    Item item{*event, std::string(reader.name()), {}, {}};
    if (*event == XmlEvent::Text || *event == XmlEvent::CData) {
      reader.append_text(item.text);
    } else if (*event != XmlEvent::StartTag && *event != XmlEvent::EmptyTag && *event != XmlEvent::EndTag) {
      item.text.assign(raw);
    }
    for (const XmlAttribute& attr : reader.attributes()) {
      item.attributes.emplace_back(std::string(attr.name), std::string(XmlPullReader::attribute_value(attr, scratch)));
    }
    items.push_back(std::move(item));
    if (*event == XmlEvent::Eof) {
      check(last_end == doc.size());
      return true;
    }
  }
  std::abort();  // no progress: a hang
}

std::string escape(std::string_view text, bool attribute) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += attribute ? "&quot;" : "\""; break;
      default: out.push_back(ch);
    }
  }
  return out;
}

std::string write_items(const std::vector<Item>& items) {
  // A leading mark is skipped on reading, so text that begins with one
  // survives only behind a mark of its own.
  std::string out = "\xEF\xBB\xBF";
  for (const Item& item : items) {
    switch (item.event) {
      case XmlEvent::StartTag:
      case XmlEvent::EmptyTag:
        out += '<' + item.name;
        for (const auto& [name, value] : item.attributes) out += ' ' + name + "=\"" + escape(value, true) + '"';
        out += item.event == XmlEvent::EmptyTag ? "/>" : ">";
        break;
      case XmlEvent::EndTag: out += "</" + item.name + '>'; break;
      case XmlEvent::Text: out += escape(item.text, false); break;
      case XmlEvent::CData: out += "<![CDATA[" + item.text + "]]>"; break;
      case XmlEvent::Reference: out += '&' + item.name + ';'; break;
      case XmlEvent::Comment: out += "<!--" + item.text + "-->"; break;
      case XmlEvent::Instruction:
      case XmlEvent::Declaration: out += "<?" + item.name + item.text + "?>"; break;
      case XmlEvent::DocType: out += "<!DOCTYPE" + item.text + '>'; break;
      case XmlEvent::Eof: break;
    }
  }
  return out;
}

void run_streamed(std::string_view doc) {
  PartStream stream(doc);
  NamespaceResolver ns;
  for (size_t guard = 0; guard <= doc.size() * 2 + 4; ++guard) {
    auto event = stream.next();
    if (!event.has_value() || *event == XmlEvent::Eof) return;
    check(stream.depth() <= MAX_STREAM_DEPTH);
    if (*event != XmlEvent::StartTag) continue;
    auto attrs = parse_start_tag(stream.reader());
    if (!ns.push(stream.reader()).has_value()) return;
    ns.resolve_element(stream.reader().name());
    if (attrs.has_value()) {
      for (const auto& pair : *attrs) {
        auto escaped = escape_xml_value(pair.value);
        if (escaped.has_value()) check(escaped->size() >= pair.value.size());
      }
    }
    if (stream.local_name() == "t") {
      if (!read_element_text(stream).has_value()) return;
    }
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view doc(reinterpret_cast<const char*>(data), size);
  std::vector<Item> plain;
  const bool ok = read_items(doc, {}, plain);
  std::vector<Item> expanded;
  const bool ok_expanded = read_items(doc, {.expand_empty_elements = true}, expanded);
  check(ok == ok_expanded);
  if (ok) {
    std::vector<Item> unfolded;
    for (const Item& item : plain) {
      if (item.event != XmlEvent::EmptyTag) {
        unfolded.push_back(item);
        continue;
      }
      unfolded.push_back(Item{XmlEvent::StartTag, item.name, {}, item.attributes});
      unfolded.push_back(Item{XmlEvent::EndTag, item.name, {}, {}});
    }
    check(unfolded == expanded);
    std::vector<Item> again;
    check(read_items(write_items(plain), {}, again));
    check(again == plain);
  }
  run_streamed(doc);
  auto rels = read_relationship_map(doc);
  if (rels.has_value()) {
    // Values only shrink when references resolve.
    for (const auto& [id, rel] : *rels) check(id.size() <= size && rel.target.size() <= size);
  }
  return 0;
}
