#include "xml/template_render.h"

#include <algorithm>
#include <map>
#include <unordered_set>
#include <vector>

#include "base/unicode.h"
#include "opc/part_names.h"
#include "xml/element_tree.h"
#include "xml/namespaces.h"
#include "xml/pull_reader.h"
#include "xml/start_tag.h"

namespace cmx::xml {

namespace {

SpreadsheetParseError reader_error(const XmlError& error) {
  return SpreadsheetParseError::xml(xml_error_message(error));
}

// Attribute values in double quotes: the five predefined entities.
void append_attribute_text(std::string& out, std::string_view value) {
  for (char ch : value) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(ch);
    }
  }
}

bool in_root_namespace(const PartTemplate& part_template, const PartTemplateChild& child) {
  return child.namespace_ == part_template.root_namespace;
}

// The head with the root start tag rewritten to carry `root_attributes`.
Result<std::string, SpreadsheetParseError> head_with_attributes(const PartTemplate& part_template,
                                                                RootAttributes root_attributes) {
  if (root_attributes.empty()) return part_template.head;
  XmlPullReader reader(part_template.head);
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(reader_error(event.error()));
    if (*event == XmlEvent::Eof) {
      return unexpected(SpreadsheetParseError::malformed("xml template root start is missing"));
    }
    if (*event == XmlEvent::StartTag) break;
  }
  CMX_ASSIGN_OR_RETURN(AttributeList attributes, parse_start_tag(reader));
  for (const std::pair<std::string, std::string>& attribute : root_attributes) {
    const std::string& name = attribute.first;
    const std::string& value = attribute.second;
    if (name.find(':') == std::string::npos) {
      opc::set_attribute_value(attributes, name, name, value);
      continue;
    }
    // A prefixed name has no ":"-free local part to match by, and appending
    // it again would write the attribute twice: match it exactly instead.
    auto same = std::find_if(attributes.begin(), attributes.end(),
                             [&](const AttributePair& attr) { return attr.name == name; });
    if (same != attributes.end()) {
      same->value = value;
    } else {
      attributes.push_back(AttributePair{name, value});
    }
  }
  const std::string_view head = part_template.head;
  std::string out(head.substr(0, reader.offset_before()));
  out += '<';
  out += part_template.root_name;
  for (const AttributePair& attr : attributes) {
    out += ' ';
    out += attr.name;
    out += "=\"";
    append_attribute_text(out, attr.value);
    out += '"';
  }
  out += '>';
  out += head.substr(reader.offset_after());
  return out;
}

// The names of root-namespace elements directly inside a Choice or Fallback
// branch of a top-level AlternateContent child, read inside a wrapper that
// carries the root's declarations.
Result<std::vector<std::string>, SpreadsheetParseError> alternate_content_names(const PartTemplate& part_template,
                                                                                 std::string_view child_text) {
  std::string wrapper = "<mcRoot";
  for (const NamespaceDeclaration& declaration : part_template.declarations) {
    wrapper += declaration.prefix.has_value() ? " xmlns:" + *declaration.prefix : std::string(" xmlns");
    wrapper += "=\"";
    append_attribute_text(wrapper, declaration.uri);
    wrapper += '"';
  }
  wrapper += '>';
  wrapper += child_text;
  wrapper += "</mcRoot>";
  XmlPullReader reader(wrapper);
  NamespaceResolver resolver;
  std::vector<std::string> names;
  size_t open = 0;
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(reader_error(event.error()));
    switch (*event) {
      case XmlEvent::StartTag:
      case XmlEvent::EmptyTag: {
        if (auto pushed = resolver.push(reader); !pushed.has_value()) return unexpected(reader_error(pushed.error()));
        // Wrapper, AlternateContent, branch: the fourth level is the content.
        if (open == 3 &&
            namespace_text(resolver.resolve_element(reader.name())) == part_template.root_namespace) {
          names.push_back(unicode::to_valid_utf8(opc::attribute_local_name(reader.name())));
        }
        if (*event == XmlEvent::EmptyTag) {
          resolver.pop();
          break;
        }
        ++open;
        if (open > MAX_XML_DEPTH) return unexpected(SpreadsheetParseError::of(ParseErrorKind::DepthExceeded));
        break;
      }
      case XmlEvent::EndTag:
        resolver.pop();
        if (open > 0) --open;
        break;
      case XmlEvent::Eof:
        return names;
      default:
        break;
    }
  }
}

struct PendingEdit {
  uint64_t position;
  std::string_view name;
  const std::optional<std::string>* replacement;
  bool written = false;
};

}  // namespace

Result<std::string, SpreadsheetParseError> replace_template_children(const PartTemplate& part_template,
                                                                     std::string_view local_name,
                                                                     std::span<const std::string> new_children,
                                                                     RootAttributes root_attributes) {
  CMX_ASSIGN_OR_RETURN(std::string out, head_with_attributes(part_template, root_attributes));
  const std::vector<PartTemplateChild>& children = part_template.children;
  auto matches = [&](const PartTemplateChild& child) {
    return child.name == local_name && in_root_namespace(part_template, child);
  };
  size_t last_match = children.size();
  for (size_t index = children.size(); index > 0; --index) {
    if (matches(children[index - 1])) {
      last_match = index - 1;
      break;
    }
  }
  size_t next_new = 0;
  auto write_rest = [&] {
    for (; next_new < new_children.size(); ++next_new) out += new_children[next_new];
  };
  for (size_t index = 0; index < children.size(); ++index) {
    const PartTemplateChild& child = children[index];
    out += child.leading;
    if (last_match == children.size()) write_rest();
    if (matches(child)) {
      if (next_new < new_children.size()) out += new_children[next_new++];
    } else {
      out += rendered_text(child);
    }
    if (index == last_match) write_rest();
  }
  out += part_template.trailing;
  write_rest();
  out += part_template.tail;
  return out;
}

Result<std::string, SpreadsheetParseError> apply_template_edits(const PartTemplate& part_template,
                                                                std::span<const TemplateEdit> edits,
                                                                const ElementOrder& order) {
  // Sorted by name; a later edit of a name replaces an earlier one.
  std::map<std::string_view, std::optional<std::string>> edit_map;
  for (const TemplateEdit& edit : edits) edit_map.insert_or_assign(edit.name, edit.replacement);
  for (auto& [name, replacement] : edit_map) {
    if (replacement.has_value()) {
      CMX_ASSIGN_OR_RETURN(replacement, adapt_fragment_namespace(part_template, *replacement));
    }
  }
  const std::vector<PartTemplateChild>& children = part_template.children;
  std::unordered_set<std::string_view> root_names;
  for (const PartTemplateChild& child : children) {
    if (in_root_namespace(part_template, child)) root_names.insert(child.name);
  }
  // Every check runs before anything is written, so a refusal leaves no
  // partial output behind.
  std::vector<uint64_t> positions(children.size(), kNoPosition);
  for (size_t index = 0; index < children.size(); ++index) {
    const PartTemplateChild& child = children[index];
    if (in_root_namespace(part_template, child)) {
      positions[index] = order(child.name);
    } else if (child.name == "AlternateContent") {
      CMX_ASSIGN_OR_RETURN(std::vector<std::string> names, alternate_content_names(part_template, child.text));
      if (!edit_map.empty()) {
        for (const std::string& name : names) {
          if (edit_map.contains(name)) {
            return unexpected(
                SpreadsheetParseError::unsupported_edit(name + " lives inside an mc:AlternateContent branch"));
          }
        }
      }
      for (const std::string& name : names) positions[index] = std::min(positions[index], order(name));
    }
  }
  size_t last_positioned = children.size();
  for (size_t index = children.size(); index > 0; --index) {
    if (positions[index - 1] != kNoPosition) {
      last_positioned = index - 1;
      break;
    }
  }
  // Edits in the order they are inserted: by position, ties by name.
  std::vector<PendingEdit> pending;
  pending.reserve(edit_map.size());
  for (const auto& [name, replacement] : edit_map) pending.push_back(PendingEdit{order(name), name, &replacement});
  std::stable_sort(pending.begin(), pending.end(),
                   [](const PendingEdit& a, const PendingEdit& b) { return a.position < b.position; });
  std::unordered_set<std::string_view> written;

  std::string out = part_template.head;
  auto write_edit = [&](PendingEdit& edit) {
    edit.written = true;
    written.insert(edit.name);
    if (edit.replacement->has_value()) out += **edit.replacement;
  };
  auto write_pending = [&] {
    for (PendingEdit& edit : pending) {
      if (!edit.written && !written.contains(edit.name)) write_edit(edit);
    }
  };
  for (size_t index = 0; index < children.size(); ++index) {
    const PartTemplateChild& child = children[index];
    out += child.leading;
    if (positions[index] != kNoPosition) {
      for (PendingEdit& edit : pending) {
        if (edit.position >= positions[index]) break;
        if (!edit.written && !written.contains(edit.name) && !root_names.contains(edit.name)) write_edit(edit);
      }
    }
    const auto edit = in_root_namespace(part_template, child) ? edit_map.find(child.name) : edit_map.end();
    if (edit != edit_map.end()) {
      if (!written.contains(edit->first)) {
        written.insert(edit->first);
        for (PendingEdit& p : pending) {
          if (p.name == edit->first) p.written = true;
        }
        if (edit->second.has_value()) out += *edit->second;
      }
    } else {
      out += rendered_text(child);
    }
    if (index == last_positioned) write_pending();
  }
  out += part_template.trailing;
  write_pending();
  out += part_template.tail;
  return out;
}

Result<std::string, SpreadsheetParseError> adapt_fragment_namespace(const PartTemplate& part_template,
                                                                    std::string_view element_text) {
  if (!part_template.root_prefix.has_value()) return std::string(element_text);
  const std::optional<std::string>& uri = part_template.root_namespace;
  const bool bound = uri.has_value() && !(uri->size() > 0 && (*uri)[0] == '\0');
  XmlPullReader reader(element_text);
  std::string out;
  out.reserve(element_text.size() + 64);
  size_t copied = 0;  // bytes of element_text already in `out`
  size_t open = 0;
  auto copy_to = [&](size_t offset) {
    out.append(element_text.substr(copied, offset - copied));
    copied = offset;
  };
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return unexpected(reader_error(event.error()));
    const XmlEvent kind = *event;
    if (kind == XmlEvent::Eof) {
      if (open != 0) {
        return unexpected(SpreadsheetParseError::xml("unexpected end of input with an element open"));
      }
      copy_to(element_text.size());
      return out;
    }
    const bool is_tag = kind == XmlEvent::StartTag || kind == XmlEvent::EmptyTag || kind == XmlEvent::EndTag;
    if (is_tag && bound) {
      const bool top = open == 0 && kind != XmlEvent::EndTag;
      const bool declares_default = std::any_of(reader.attributes().begin(), reader.attributes().end(),
                                                [](const XmlAttribute& attr) { return attr.name == "xmlns"; });
      if (top && !declares_default) {
        // Before the ">" of a start tag or the "/>" of an empty one.
        copy_to(reader.offset_after() - (kind == XmlEvent::EmptyTag ? 2 : 1));
        out += " xmlns=\"";
        append_attribute_text(out, *uri);
        out += '"';
      }
    } else if (is_tag && reader.name().find(':') == std::string_view::npos) {
      copy_to(reader.offset_before() + (kind == XmlEvent::EndTag ? 2 : 1));
      out += *part_template.root_prefix;
      out += ':';
    }
    if (kind == XmlEvent::StartTag) ++open;
    if (kind == XmlEvent::EndTag && open > 0) --open;
  }
}

}  // namespace cmx::xml
