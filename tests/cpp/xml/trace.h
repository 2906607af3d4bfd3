// Renders a pull reader's events as one line, so that reader tests compare
// whole event streams: <a x="v"> <b/> </a> T[text] CD[..] &ref; C[..]
// ?target[..] ?xml DT, and ERR(message) for a refusal.
#pragma once

#include <string>
#include <string_view>

#include "xml/pull_reader.h"

namespace cmx::xml::testing {

inline std::string trace(std::string_view text, XmlReaderOptions options = {}) {
  XmlPullReader reader(text, options);
  std::string out;
  std::string scratch;
  for (int guard = 0; guard < 100000; ++guard) {
    auto event = reader.next();
    if (!event.has_value()) return out + (out.empty() ? "" : " ") + "ERR(" + xml_error_message(event.error()) + ")";
    if (!out.empty() && *event != XmlEvent::Eof) out += ' ';
    switch (*event) {
      case XmlEvent::StartTag:
      case XmlEvent::EmptyTag:
        out += '<';
        out += reader.name();
        for (const XmlAttribute& attr : reader.attributes()) {
          out += ' ';
          out += attr.name;
          out += "=\"";
          out += XmlPullReader::attribute_value(attr, scratch);
          out += '"';
        }
        out += *event == XmlEvent::EmptyTag ? "/>" : ">";
        break;
      case XmlEvent::EndTag:
        out += "</";
        out += reader.name();
        out += '>';
        break;
      case XmlEvent::Text:
        out += "T[";
        reader.append_text(out);
        out += ']';
        break;
      case XmlEvent::CData:
        out += "CD[";
        out += reader.raw();
        out += ']';
        break;
      case XmlEvent::Reference:
        out += '&';
        out += reader.name();
        out += ';';
        break;
      case XmlEvent::Comment:
        out += "C[";
        out += reader.raw();
        out += ']';
        break;
      case XmlEvent::Instruction:
        out += '?';
        out += reader.name();
        out += '[';
        out += reader.raw();
        out += ']';
        break;
      case XmlEvent::Declaration:
        out += "?xml";
        break;
      case XmlEvent::DocType:
        out += "DT";
        break;
      case XmlEvent::Eof:
        return out;
    }
  }
  return out + " (no end)";
}

}  // namespace cmx::xml::testing
