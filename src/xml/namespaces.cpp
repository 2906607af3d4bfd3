#include "xml/namespaces.h"

namespace cmx::xml {

namespace {

// The prefix of `qualified` and whether it has one.
std::pair<std::string_view, bool> split_prefix(std::string_view qualified) {
  const size_t colon = qualified.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == qualified.size()) {
    return {std::string_view(), false};
  }
  return {qualified.substr(0, colon), true};
}

}  // namespace

Result<void, XmlError> NamespaceResolver::push(const XmlPullReader& reader) {
  marks_.push_back(bindings_.size());
  std::string scratch;
  for (const XmlAttribute& attr : reader.attributes()) {
    std::string_view prefix;
    if (attr.name == "xmlns") {
      prefix = {};
    } else if (attr.name.starts_with("xmlns:") && attr.name.size() > 6) {
      prefix = attr.name.substr(6);
    } else {
      continue;
    }
    const std::string_view uri = XmlPullReader::attribute_value(attr, scratch);
    const bool bad = prefix == "xmlns" || (prefix == "xml") != (uri == kXmlNamespace) ||
                     uri == kXmlnsNamespace;
    if (bad) {
      bindings_.resize(marks_.back());
      marks_.pop_back();
      return unexpected(XmlError{XmlErrorKind::BadNamespaceBinding, reader.offset_before(),
                                 std::string(attr.name), {}});
    }
    bindings_.emplace_back(std::string(prefix), std::string(uri));
  }
  return {};
}

void NamespaceResolver::pop() {
  if (marks_.empty()) return;
  bindings_.resize(marks_.back());
  marks_.pop_back();
}

ResolvedNamespace NamespaceResolver::lookup(std::string_view prefix, bool has_prefix) const {
  if (has_prefix && prefix == "xml") return {NamespaceKind::Bound, kXmlNamespace, {}};
  for (size_t i = bindings_.size(); i > 0; --i) {
    const auto& [bound_prefix, uri] = bindings_[i - 1];
    if (bound_prefix == prefix && (has_prefix || bound_prefix.empty())) {
      if (uri.empty()) return {NamespaceKind::None, {}, {}};
      return {NamespaceKind::Bound, uri, {}};
    }
  }
  if (has_prefix) return {NamespaceKind::Unbound, {}, prefix};
  return {NamespaceKind::None, {}, {}};
}

ResolvedNamespace NamespaceResolver::resolve_element(std::string_view qualified) const {
  const auto [prefix, has_prefix] = split_prefix(qualified);
  return lookup(prefix, has_prefix);
}

ResolvedNamespace NamespaceResolver::resolve_attribute(std::string_view qualified) const {
  const auto [prefix, has_prefix] = split_prefix(qualified);
  if (!has_prefix || prefix == "xmlns") return {NamespaceKind::None, {}, {}};
  return lookup(prefix, true);
}

bool NamespaceResolver::default_undeclared() const {
  for (size_t i = bindings_.size(); i > 0; --i) {
    if (bindings_[i - 1].first.empty()) return bindings_[i - 1].second.empty();
  }
  return false;
}

}  // namespace cmx::xml
