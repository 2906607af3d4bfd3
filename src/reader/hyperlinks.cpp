#include "reader/hyperlinks.h"

namespace cmx::reader {

Result<std::optional<model::SheetHyperlink>, SpreadsheetParseError> read_sheet_hyperlink(
    xml::PartStream& stream, const opc::RelationshipMap& rels) {
  using Link = std::optional<model::SheetHyperlink>;
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> ref, stream.attribute("ref"));
  if (!ref) return Link();
  auto range = model::parse_range(*ref);
  if (!range.has_value())
    return unexpected(SpreadsheetParseError::malformed("bad hyperlink ref " + std::string(*ref)));

  model::SheetHyperlink link;
  link.range = *range;
  CMX_ASSIGN_OR_RETURN(std::optional<std::string_view> id, stream.attribute("id"));
  if (id) {
    auto found = rels.find(std::string(*id));
    if (found != rels.end() && found->second.external && found->second.rel_type &&
        opc::last_type_segment(*found->second.rel_type) == "hyperlink")
      link.external_target = found->second.target;
  }
  CMX_ASSIGN_OR_RETURN(link.location, stream.attribute_string("location"));
  if (link.location && link.location->empty()) link.location.reset();
  if (!link.external_target && !link.location) return Link();
  CMX_ASSIGN_OR_RETURN(link.tooltip, stream.attribute_string("tooltip"));
  CMX_ASSIGN_OR_RETURN(link.display, stream.attribute_string("display"));
  return Link(std::move(link));
}

}  // namespace cmx::reader
