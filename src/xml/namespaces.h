// Namespace scopes over the pull reader's start tags, for readers that need
// resolved names (templates, tree builders). Kept out of XmlPullReader so
// that streamed reads, which match local names only, pay nothing for it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "xml/error.h"
#include "xml/pull_reader.h"

namespace cmx::xml {

inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

enum class NamespaceKind : uint8_t {
  None,     // no prefix and no default in scope, or bound to an empty URI
  Bound,    // `uri` holds the namespace
  Unbound,  // a prefix no declaration binds; `prefix` names it
};

struct ResolvedNamespace {
  NamespaceKind kind = NamespaceKind::None;
  std::string_view uri;
  std::string_view prefix;
};

class NamespaceResolver {
 public:
  // Opens the scope of the reader's current start or empty-element tag with
  // its "xmlns" and "xmlns:p" declarations. BadNamespaceBinding when a tag
  // binds "xmlns", binds "xml" elsewhere, or binds a prefix to either
  // reserved URI.
  Result<void, XmlError> push(const XmlPullReader& reader);
  // Closes the innermost scope.
  void pop();

  // The prefix of a qualified name is the text before its first ":" when
  // that ":" is neither first nor last; otherwise the default namespace.
  ResolvedNamespace resolve_element(std::string_view qualified) const;
  // Unprefixed attributes are in no namespace; "xml:" is the XML namespace.
  ResolvedNamespace resolve_attribute(std::string_view qualified) const;
  // The nearest default declaration in scope is an empty one.
  bool default_undeclared() const;

 private:
  ResolvedNamespace lookup(std::string_view prefix, bool is_default) const;
  std::vector<std::pair<std::string, std::string>> bindings_;
  std::vector<size_t> marks_;
};

}  // namespace cmx::xml
