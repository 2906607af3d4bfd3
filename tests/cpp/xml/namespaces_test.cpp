// Namespace scopes over start tags.
#include "xml/namespaces.h"

#include <gtest/gtest.h>

namespace cmx::xml {
namespace {

// Resolves the element name of every start tag in document order.
std::vector<std::string> resolve_all(std::string_view doc) {
  XmlPullReader reader(doc);
  NamespaceResolver ns;
  std::vector<std::string> out;
  while (true) {
    auto event = reader.next();
    if (!event.has_value()) {
      out.push_back("ERR(" + xml_error_message(event.error()) + ")");
      return out;
    }
    if (*event == XmlEvent::Eof) return out;
    if (*event == XmlEvent::EndTag) ns.pop();
    if (*event != XmlEvent::StartTag && *event != XmlEvent::EmptyTag) continue;
    auto pushed = ns.push(reader);
    if (!pushed.has_value()) {
      out.push_back("ERR(" + xml_error_message(pushed.error()) + ")");
      return out;
    }
    const ResolvedNamespace r = ns.resolve_element(reader.name());
    std::string line(reader.name());
    switch (r.kind) {
      case NamespaceKind::None: line += "=none"; break;
      case NamespaceKind::Bound:
        line += '=';
        line += r.uri;
        break;
      case NamespaceKind::Unbound:
        line += "=unbound:";
        line += r.prefix;
        break;
    }
    if (ns.default_undeclared()) line += "!";
    out.push_back(line);
    if (*event == XmlEvent::EmptyTag) ns.pop();
  }
}

TEST(NamespaceResolver, Table) {
  struct Case {
    std::string_view label;
    std::string_view doc;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"prefixed root", "<p:a xmlns:p=\"u\"><b/></p:a>", {"p:a=u", "b=none"}},
      {"default undeclared", "<a xmlns=\"u\"><b xmlns=\"\"/><c/></a>", {"a=u", "b=none!", "c=u"}},
      {"prefix bound empty", "<p:a xmlns:p=\"\"/>", {"p:a=none"}},
      {"unbound prefix", "<q:a/>", {"q:a=unbound:q"}},
      {"scope ends", "<a><p:b xmlns:p=\"u\"/><p:c/></a>", {"a=none", "p:b=u", "p:c=unbound:p"}},
      {"colon first or last", "<a xmlns=\"d\"><:b/><c:/></a>", {"a=d", ":b=d", "c:=d"}},
      {"references in uri", "<a xmlns=\"x&amp;y\"/>", {"a=x&y"}},
      {"xml prefix", "<xml:a/>", {"xml:a=http://www.w3.org/XML/1998/namespace"}},
      {"binding xmlns", "<a xmlns:xmlns=\"u\"/>", {"ERR(invalid namespace binding xmlns:xmlns at byte 0)"}},
      {"rebinding xml", "<a xmlns:xml=\"u\"/>", {"ERR(invalid namespace binding xmlns:xml at byte 0)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(resolve_all(c.doc), c.expected);
  }
}

TEST(NamespaceResolver, Attributes) {
  XmlPullReader reader("<a xmlns:r=\"rel\" xmlns=\"d\" r:id=\"1\" id=\"2\" xml:lang=\"en\" q:x=\"3\"/>");
  ASSERT_TRUE(reader.next().has_value());
  NamespaceResolver ns;
  ASSERT_TRUE(ns.push(reader).has_value());
  EXPECT_EQ(ns.resolve_attribute("r:id").uri, "rel");
  EXPECT_EQ(ns.resolve_attribute("id").kind, NamespaceKind::None);  // default does not apply
  EXPECT_EQ(ns.resolve_attribute("xmlns").kind, NamespaceKind::None);
  EXPECT_EQ(ns.resolve_attribute("xml:lang").uri, kXmlNamespace);
  EXPECT_EQ(ns.resolve_attribute("q:x").kind, NamespaceKind::Unbound);
}

}  // namespace
}  // namespace cmx::xml
