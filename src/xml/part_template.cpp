#include "xml/part_template.h"

#include "base/unicode.h"
#include "xml/cell_scan.h"
#include "xml/element_tree.h"
#include "xml/pull_reader.h"
#include "xml/start_tag.h"
#include "xml/tree_queries.h"

namespace cmx::xml {

namespace {

SpreadsheetParseError reader_error(const XmlError& error) {
  return SpreadsheetParseError::xml(xml_error_message(error));
}

struct ChildSpan {
  std::string name;
  std::optional<std::string> namespace_;
  size_t start = 0;
  size_t end = 0;
};

Result<std::vector<NamespaceDeclaration>, SpreadsheetParseError> read_declarations(const XmlPullReader& reader) {
  std::vector<NamespaceDeclaration> out;
  for (const XmlAttribute& attr : reader.attributes()) {
    std::optional<std::string> prefix;
    if (attr.name == "xmlns") {
      prefix.reset();
    } else if (attr.name.starts_with("xmlns:")) {
      prefix = unicode::to_valid_utf8(attr.name.substr(6));
    } else {
      continue;
    }
    CMX_ASSIGN_OR_RETURN(AttributePair pair, read_start_tag_attribute(attr));
    out.push_back(NamespaceDeclaration{std::move(prefix), std::move(pair.value)});
  }
  return out;
}

bool is_blank(std::string_view text) {
  return text.find_first_not_of(" \t\n\r") == std::string_view::npos;
}

}  // namespace

std::optional<std::string> namespace_text(const ResolvedNamespace& resolved) {
  switch (resolved.kind) {
    case NamespaceKind::None:
      return std::nullopt;
    case NamespaceKind::Bound:
      return unicode::to_valid_utf8(resolved.uri);
    case NamespaceKind::Unbound:
    {
      std::string text = unicode::to_valid_utf8(resolved.prefix);
      text.insert(text.begin(), '\0');
      return text;
    }
  }
  return std::nullopt;
}

std::string join_part_template(const PartTemplate& part_template) {
  size_t size = part_template.head.size() + part_template.trailing.size() + part_template.tail.size();
  for (const PartTemplateChild& child : part_template.children) size += child.leading.size() + child.text.size();
  std::string out;
  out.reserve(size);
  out += part_template.head;
  for (const PartTemplateChild& child : part_template.children) {
    out += child.leading;
    out += rendered_text(child);
  }
  out += part_template.trailing;
  out += part_template.tail;
  return out;
}

namespace {

// read_part_template over `part`, whose cut (if any) is `read_content`. Sets
// `lost` when the cut does not lie where that content does, so that the
// result is not the whole part's.
Result<PartTemplate, SpreadsheetParseError> read_template(const CutPart& part, std::string_view leave_in_part,
                                                          std::optional<PartTextSpan> read_content, bool& lost) {
  const std::string_view text = part.text;
  const uint64_t whole_size = text.size() + part.cut_size;
  if (read_content && (read_content->offset > whole_size || read_content->size > whole_size - read_content->offset)) {
    read_content.reset();
  }
  bool cut_passed = part.cut_size == 0;
  // The whole part's bytes [from, to), which must not overlap the cut.
  auto slice = [&](uint64_t from, uint64_t to) -> std::string_view {
    if (to <= part.cut_at) return text.substr(from, to - from);
    if (from >= part.cut_at + part.cut_size) return text.substr(from - part.cut_size, to - from);
    lost = true;
    return {};
  };
  auto slice_from = [&](uint64_t from) { return slice(from, whole_size); };
  XmlPullReader reader(text);
  NamespaceResolver resolver;
  PartTemplate result;
  bool root_seen = false;
  size_t open = 0;
  size_t head_end = 0;
  std::vector<ChildSpan> spans;
  ChildSpan current;

  // Records the root from the reader's current start or empty-element tag.
  auto record_root = [&]() -> Result<void, SpreadsheetParseError> {
    root_seen = true;
    result.root_name = unicode::to_valid_utf8(reader.name());
    const size_t colon = result.root_name.rfind(':');
    if (colon != std::string::npos) result.root_prefix = result.root_name.substr(0, colon);
    result.root_namespace = namespace_text(resolver.resolve_element(reader.name()));
    CMX_ASSIGN_OR_RETURN(result.declarations, read_declarations(reader));
    return {};
  };

  PlainCell cell;
  while (true) {
    // Inside a child, a cell of the common shape is one balanced element
    // without declarations: skipping it whole changes nothing here.
    if (open >= 2 && open + 3 <= MAX_XML_DEPTH && scan_plain_cell(reader.unread(), cell)) {
      reader.skip_balanced(cell.length);
      continue;
    }
    auto event = reader.next();
    if (!event.has_value()) return unexpected(reader_error(event.error()));
    switch (*event) {
      case XmlEvent::StartTag:
        if (open >= MAX_XML_DEPTH) {
          return unexpected(SpreadsheetParseError::of(ParseErrorKind::DepthExceeded));
        }
        if (auto pushed = resolver.push(reader); !pushed.has_value()) return unexpected(reader_error(pushed.error()));
        if (open == 0) {
          CMX_TRY(record_root());
          head_end = reader.offset_after();
        } else if (open == 1) {
          current = ChildSpan{unicode::to_valid_utf8(local_name(reader.name())),
                              namespace_text(resolver.resolve_element(reader.name())), reader.offset_before(), 0};
        }
        ++open;
        if (open == 2 && read_content && reader.offset_after() == read_content->offset) {
          if (part.cut_size == 0) {
            reader.skip_balanced(read_content->size);
          } else if (read_content->offset == part.cut_at && read_content->size == part.cut_size) {
            reader.skip_absent(part.cut_size);
            cut_passed = true;
          }
          read_content.reset();
        }
        break;
      case XmlEvent::EmptyTag: {
        if (auto pushed = resolver.push(reader); !pushed.has_value()) return unexpected(reader_error(pushed.error()));
        if (open == 0) {
          CMX_TRY(record_root());
          result.head.assign(slice(0, reader.offset_before()));
          result.head += '<';
          result.head += reader.raw();
          result.head += '>';
          // The name as written, not its U+FFFD-mended form: an end tag
          // must repeat the start tag's bytes to match it.
          result.tail = "</";
          result.tail += reader.name();
          result.tail += '>';
          result.tail += slice_from(reader.offset_after());
          if (!cut_passed) lost = true;
          return result;
        }
        if (open == 1) {
          spans.push_back(ChildSpan{unicode::to_valid_utf8(local_name(reader.name())),
                                    namespace_text(resolver.resolve_element(reader.name())), reader.offset_before(),
                                    reader.offset_after()});
        }
        resolver.pop();
        break;
      }
      case XmlEvent::EndTag: {
        resolver.pop();
        if (open == 1) {
          const size_t root_end = reader.offset_before();
          size_t previous = head_end;
          for (ChildSpan& span : spans) {
            if (span.start < previous || span.end > root_end) {
              return unexpected(SpreadsheetParseError::malformed("overlapping xml child spans"));
            }
            const bool leave = !leave_in_part.empty() && span.name == leave_in_part;
            const uint64_t size = span.end - span.start;
            result.children.push_back(PartTemplateChild{
                std::string(slice(previous, span.start)), std::move(span.name),
                leave ? std::string() : std::string(slice(span.start, span.end)), std::move(span.namespace_),
                leave ? std::optional<PartTextSpan>(PartTextSpan{span.start, size}) : std::nullopt});
            previous = span.end;
          }
          result.head.assign(slice(0, head_end));
          result.trailing.assign(slice(previous, root_end));
          result.tail.assign(slice_from(root_end));
          if (!cut_passed) lost = true;
          if (result.root_name.empty()) return unexpected(SpreadsheetParseError::malformed("xml part has no root name"));
          return result;
        }
        --open;
        if (open == 1) {
          current.end = reader.offset_after();
          spans.push_back(std::move(current));
          current = ChildSpan{};
        }
        break;
      }
      case XmlEvent::Eof:
        if (!root_seen) return unexpected(SpreadsheetParseError::malformed("xml part has no root"));
        return unexpected(SpreadsheetParseError::malformed("xml root is not closed"));
      default:
        break;
    }
  }
}

}  // namespace

Result<PartTemplate, SpreadsheetParseError> read_part_template(std::string_view bytes, std::string_view leave_in_part,
                                                               std::optional<PartTextSpan> read_content) {
  bool lost = false;
  return read_template(CutPart{bytes, 0, 0}, leave_in_part, read_content, lost);
}

std::optional<Result<PartTemplate, SpreadsheetParseError>> read_cut_part_template(const CutPart& part,
                                                                                  std::string_view leave_in_part) {
  bool lost = false;
  auto result = read_template(part, leave_in_part, PartTextSpan{part.cut_at, part.cut_size}, lost);
  // A refusal is left to the whole part, which words it exactly.
  if (lost) return std::nullopt;
  if (!result.has_value() && part.cut_size != 0) return std::nullopt;
  return result;
}

std::optional<std::string> part_root_local_name(std::string_view bytes) {
  XmlPullReader reader(bytes);
  NamespaceResolver resolver;
  std::optional<std::string> root;
  size_t open = 0;
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) return std::nullopt;
    switch (*event) {
      case XmlEvent::StartTag: {
        if (!resolver.push(reader).has_value()) return std::nullopt;
        if (open == 0) {
          if (root.has_value()) return std::nullopt;
          const ResolvedNamespace resolved = resolver.resolve_element(reader.name());
          NamespaceState state;
          if (resolved.kind == NamespaceKind::Bound) {
            state = {NamespaceStateKind::Bound, resolved.uri};
          } else if (resolved.kind == NamespaceKind::None) {
            bool undeclared = false;
            for (const XmlAttribute& attr : reader.attributes()) {
              if (attr.name == "xmlns" && attr.value.empty()) undeclared = true;
            }
            state = {undeclared ? NamespaceStateKind::DefaultUndeclared : NamespaceStateKind::Unbound, {}};
          }
          if (!unicode::is_valid_utf8(reader.name())) return std::nullopt;
          const std::optional<std::string_view> local =
              local_name_in_namespaces(reader.name(), state, kSpreadsheetMainNamespaces, false);
          if (!local.has_value()) return std::nullopt;
          root = std::string(*local);
        } else if (open >= MAX_XML_DEPTH) {
          return std::nullopt;
        }
        ++open;
        break;
      }
      case XmlEvent::EmptyTag:
        if (!resolver.push(reader).has_value()) return std::nullopt;
        resolver.pop();
        break;
      case XmlEvent::EndTag:
        if (open == 0) return std::nullopt;
        resolver.pop();
        --open;
        break;
      case XmlEvent::Text:
        if (open == 0 && !is_blank(reader.raw())) return std::nullopt;
        break;
      case XmlEvent::CData:
      case XmlEvent::Reference:
        if (open == 0) return std::nullopt;
        break;
      case XmlEvent::Eof:
        if (open != 0) return std::nullopt;
        return root;
      default:
        break;
    }
  }
}

}  // namespace cmx::xml
