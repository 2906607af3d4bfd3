#include "xml/element_tree.h"

#include <algorithm>
#include <utility>

#include "xml/part_decoding.h"
#include "xml/pull_reader.h"

namespace cmx::xml {

namespace {

SpreadsheetParseError reader_error(const XmlError& error) {
  return SpreadsheetParseError::xml(xml_error_message(error));
}

SpreadsheetParseError too_large() { return SpreadsheetParseError::of(ParseErrorKind::TreeTooLarge); }

// The prefix an element or attribute name resolves through: the text before
// the first ":" when that ":" is neither first nor last.
std::optional<std::string_view> name_prefix(std::string_view name) {
  const size_t colon = name.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == name.size()) return std::nullopt;
  return name.substr(0, colon);
}

class TreeBuilder {
 public:
  TreeBuilder(std::string_view text, uint64_t element_budget)
      : reader_(text), budget_(element_budget), elements_left_(element_budget) {
    stack_.reserve(MAX_XML_DEPTH);
  }

  Result<XmlTree, SpreadsheetParseError> run() {
    while (true) {
      auto event = reader_.next();
      if (!event.has_value()) return unexpected(reader_error(event.error()));
      switch (*event) {
        case XmlEvent::StartTag:
          CMX_TRY(open_element(/*self_closing=*/false));
          break;
        case XmlEvent::EmptyTag: {
          CMX_TRY(open_element(/*self_closing=*/true));
          XmlElement element = std::move(stack_.back());
          stack_.pop_back();
          leave_scope();
          CMX_TRY(attach(std::move(element)));
          break;
        }
        case XmlEvent::EndTag: {
          if (stack_.empty()) return unexpected(SpreadsheetParseError::malformed("unbalanced end tag"));
          XmlElement element = std::move(stack_.back());
          stack_.pop_back();
          leave_scope();
          element.content_end = std::max<uint64_t>(reader_.offset_before(), element.content_start);
          CMX_TRY(attach(std::move(element)));
          break;
        }
        case XmlEvent::Text:
          if (!stack_.empty()) {
            scratch_.clear();
            reader_.append_text(scratch_);
            CMX_TRY(append_text(scratch_));
          }
          break;
        case XmlEvent::CData:
          if (!stack_.empty()) CMX_TRY(append_text(reader_.raw()));
          break;
        case XmlEvent::Reference:
          // The reader passes on only the references it cannot resolve.
          return unexpected(
              SpreadsheetParseError::malformed("unresolvable entity &" + std::string(reader_.name()) + ";"));
        case XmlEvent::Comment:
        case XmlEvent::Instruction:
        case XmlEvent::Declaration:
          break;
        case XmlEvent::DocType:
          return unexpected(SpreadsheetParseError::malformed("doctype is not accepted"));
        case XmlEvent::Eof:
          if (!stack_.empty()) return unexpected(SpreadsheetParseError::malformed("unclosed element"));
          if (!root_.has_value()) return unexpected(SpreadsheetParseError::malformed("no root element"));
          return XmlTree{std::move(*root_), budget_ - elements_left_};
      }
    }
  }

 private:
  Result<void, SpreadsheetParseError> charge_unit() {
    if (elements_left_ == 0) return unexpected(too_large());
    --elements_left_;
    return {};
  }

  const SharedString* lookup(std::string_view prefix) const {
    for (size_t i = bindings_.size(); i > 0; --i) {
      if (bindings_[i - 1].first == prefix) return &bindings_[i - 1].second;
    }
    return nullptr;
  }

  SharedString resolve(std::string_view prefix) const {
    const SharedString* uri = lookup(prefix);
    return uri == nullptr ? SharedString() : *uri;
  }

  Result<void, SpreadsheetParseError> open_element(bool self_closing) {
    if (stack_.size() >= MAX_XML_DEPTH) return unexpected(SpreadsheetParseError::of(ParseErrorKind::DepthExceeded));
    marks_.push_back(bindings_.size());
    const std::vector<XmlAttribute>& attributes = reader_.attributes();
    for (const XmlAttribute& attr : attributes) {
      std::string_view prefix;
      if (attr.name == "xmlns") {
        prefix = {};
      } else if (attr.name.size() > 6 && attr.name.starts_with("xmlns:")) {
        prefix = attr.name.substr(6);
      } else {
        continue;
      }
      bindings_.emplace_back(std::string(prefix), SharedString(XmlPullReader::attribute_value(attr, scratch_)));
    }
    CMX_TRY(charge_unit());
    XmlElement element;
    element.name.assign(reader_.name());
    element.namespace_uri = resolve(name_prefix(element.name).value_or(std::string_view()));
    element.attributes.reserve(attributes.size());
    for (const XmlAttribute& attr : attributes) {
      CMX_TRY(charge_unit());
      XmlTreeAttribute out;
      out.name.assign(attr.name);
      if (const std::optional<std::string_view> prefix = name_prefix(attr.name)) out.namespace_uri = resolve(*prefix);
      out.value.assign(XmlPullReader::attribute_value(attr, scratch_));
      element.attributes.push_back(std::move(out));
    }
    const SharedString* default_uri = lookup({});
    element.default_namespace_undeclared = default_uri != nullptr && default_uri->empty();
    element.content_start = element.content_end = reader_.offset_after();
    element.self_closing = self_closing;
    stack_.push_back(std::move(element));
    return {};
  }

  void leave_scope() {
    bindings_.resize(marks_.back());
    marks_.pop_back();
  }

  Result<void, SpreadsheetParseError> attach(XmlElement element) {
    if (!stack_.empty()) {
      stack_.back().children.push_back(XmlNode{std::move(element)});
      return {};
    }
    if (root_.has_value()) return unexpected(SpreadsheetParseError::malformed("more than one root element"));
    root_ = std::move(element);
    return {};
  }

  Result<void, SpreadsheetParseError> append_text(std::string_view text) {
    if (text_left_ < text.size()) return unexpected(too_large());
    text_left_ -= text.size();
    std::vector<XmlNode>& children = stack_.back().children;
    if (!children.empty() && !children.back().is_element()) {
      std::get<1>(children.back().value).append(text);
    } else {
      children.push_back(XmlNode{std::string(text)});
    }
    return {};
  }

  XmlPullReader reader_;
  uint64_t budget_;
  uint64_t elements_left_;
  uint64_t text_left_ = MAX_PART_BYTES;
  std::vector<XmlElement> stack_;
  std::vector<std::pair<std::string, SharedString>> bindings_;
  std::vector<size_t> marks_;
  std::optional<XmlElement> root_;
  std::string scratch_;
};

}  // namespace

Result<XmlTree, SpreadsheetParseError> parse_xml_tree(std::string_view text, uint64_t element_budget) {
  return TreeBuilder(text, element_budget).run();
}

Result<XmlElement, SpreadsheetParseError> parse_part_tree(std::string_view bytes) {
  CMX_ASSIGN_OR_RETURN(DecodedPart part, decode_part(bytes));
  CMX_ASSIGN_OR_RETURN(XmlTree tree, parse_xml_tree(part.text, STANDARD_ELEMENT_BUDGET));
  return std::move(tree.root);
}

BudgetedParse parse_part_within_budget(ExportParseBudget& budget, std::string_view bytes) {
  if (budget.bytes_remaining < bytes.size()) return {BudgetOutcome::Skipped, std::nullopt};
  budget.bytes_remaining -= bytes.size();
  const uint64_t allowance = std::min(budget.elements_remaining, STANDARD_ELEMENT_BUDGET);
  auto tree = [&]() -> Result<XmlTree, SpreadsheetParseError> {
    CMX_ASSIGN_OR_RETURN(DecodedPart part, decode_part(bytes));
    return parse_xml_tree(part.text, allowance);
  }();
  if (tree.has_value()) {
    budget.elements_remaining -= tree->elements_used;
    return {BudgetOutcome::Parsed, std::move(tree->root)};
  }
  const ParseErrorKind kind = tree.error().kind;
  if (kind == ParseErrorKind::DepthExceeded || kind == ParseErrorKind::TreeTooLarge) {
    budget.elements_remaining -= allowance;
    return {BudgetOutcome::Skipped, std::nullopt};
  }
  return {BudgetOutcome::Unreadable, std::nullopt};
}

}  // namespace cmx::xml
