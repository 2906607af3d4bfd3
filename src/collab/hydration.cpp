#include "collab/hydration.h"

#include <limits>
#include <set>
#include <utility>

#include "base/number_text.h"
#include "collab/bootstrap_blocks.h"
#include "collab/update_scan.h"
#include "json/sheet_records.h"

namespace cmx::collab {
namespace {

using crdt::Any;

// What a migration writes into one active sheet, from the projection taken
// just before it writes.
struct MigrationRecord {
  std::string hyperlinks;
  std::string charts;
  DimensionMap col_widths;
  DimensionMap row_heights;
  std::optional<model::FreezePane> freeze_pane;
};

Result<void, std::string> repair_sheet_order(crdt::Doc& doc) {
  crdt::Transaction txn(doc, std::string(kHydrateOrigin));
  crdt::Branch* root = doc.find_root(kSheetOrderRoot);
  if (root == nullptr) return unexpected(std::string("missing sheet order"));
  crdt::ArrayRef order(root);
  CMX_ASSIGN_OR_RETURN(std::vector<std::string> keys, read_sheet_order(order));
  std::set<std::string_view> seen;
  std::vector<size_t> repeated;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!seen.insert(keys[i]).second) repeated.push_back(i);
  }
  for (auto it = repeated.rbegin(); it != repeated.rend(); ++it) {
    if (*it > std::numeric_limits<uint32_t>::max()) return unexpected(std::string(kSheetOrderRangeRefusal));
    auto removed = order.remove_range(txn, *it, 1);
    if (!removed) return unexpected(write_failure(removed.error()));
  }
  return {};
}

Result<void, std::string> migrate_sheets(crdt::Doc& doc, int64_t version,
                                         const std::map<std::string, MigrationRecord>& records) {
  crdt::Transaction txn(doc, std::string(kHydrateOrigin));
  crdt::Branch* root = doc.find_root(kSheetsRoot);
  if (root == nullptr) return unexpected(std::string("missing sheet map"));
  const crdt::MapRef sheets(root);
  for (const std::string& key : sheets.keys()) {
    auto value = sheets.get(key);
    if (!value || value->kind != crdt::ValueKind::kMap) return unexpected("sheet " + key + " is not a map");
    crdt::MapRef sheet_map = value->as_map();
    auto record = records.find(key);
    const MigrationRecord* found = record == records.end() ? nullptr : &record->second;
    if (found != nullptr) {
      CMX_ASSIGN_OR_RETURN(crdt::MapRef widths, fetch_or_create_map(txn, sheet_map, kColWidthsKey));
      CMX_TRY(sync_dimension_map(txn, widths, found->col_widths));
      CMX_ASSIGN_OR_RETURN(crdt::MapRef heights, fetch_or_create_map(txn, sheet_map, kRowHeightsKey));
      CMX_TRY(sync_dimension_map(txn, heights, found->row_heights));
    }
    if (version == 3) {
      Any pane = found != nullptr ? encode_freeze_pane(found->freeze_pane) : Any::null();
      CMX_TRY(write_plain(txn, sheet_map, kFreezePaneKey, std::move(pane)));
    }
    if (version <= 4) {
      CMX_TRY(write_plain(txn, sheet_map, kHyperlinksKey, Any::string(found != nullptr ? found->hyperlinks : "[]")));
    }
    if (version <= 5) {
      CMX_TRY(write_plain(txn, sheet_map, kChartsKey, Any::string(found != nullptr ? found->charts : "[]")));
    }
  }
  return {};
}

Result<void, std::string> write_current_metadata(crdt::Doc& doc, const AuthoredBase& base) {
  crdt::Transaction txn(doc, std::string(kHydrateOrigin));
  crdt::Branch* root = doc.find_root(kMetadataRoot);
  if (root == nullptr) return unexpected(std::string("missing workbook metadata"));
  crdt::MapRef metadata(root);
  CMX_TRY(write_plain(txn, metadata, kBaseFingerprintKey, Any::string(base.base_fingerprint)));
  CMX_TRY(write_plain(txn, metadata, kSchemaVersionKey, Any::number(static_cast<double>(kSchemaVersion))));
  return {};
}

AuthorityError state_error(std::string text) {
  return AuthorityError{AuthorityError::Kind::kCollaborativeState, 0, std::move(text)};
}

}  // namespace

Result<void, std::string> hydrate_from_update(crdt::Doc& doc, std::span<const uint8_t> update) {
  auto decoded = decode_update_bounded(update, ScanLimits::own(update));
  if (!decoded) return unexpected(std::move(decoded).error());
  crdt::Transaction txn(doc, std::string(kHydrateOrigin));
  auto applied = txn.apply_update(std::move(*decoded));
  txn.commit();
  if (!applied) return unexpected(crdt::crdt_error_message(applied.error()));
  return {};
}

Result<bool, std::string> hydrate_document(Authority& authority) {
  crdt::Doc& doc = *authority.doc;
  const AuthoredBase& base = *authority.base;
  std::optional<int64_t> version;
  {
    auto lock = doc.read_lock();
    if (crdt::Branch* root = doc.find_root(kMetadataRoot)) {
      version = read_metadata_integer(crdt::MapRef(root), kSchemaVersionKey);
    }
  }
  if (!version) return unexpected(std::string("missing schema version"));
  if (*version < kOldestSchemaVersion || *version > kSchemaVersion) {
    return unexpected("unsupported schema version " + format_i64(*version) + "; supported versions are " +
                      format_i64(kOldestSchemaVersion) + " through " + format_i64(kSchemaVersion));
  }
  CMX_TRY(repair_sheet_order(doc));

  if (*version == kSchemaVersion) {
    auto lock = doc.read_lock();
    if (crdt::Branch* root = doc.find_root(kMetadataRoot)) {
      auto fingerprint = crdt::MapRef(root).get(kBaseFingerprintKey);
      if (fingerprint && fingerprint->kind == crdt::ValueKind::kAny &&
          fingerprint->any.is(crdt::AnyKind::kString) && fingerprint->any.as_string() == base.base_fingerprint) {
        return false;
      }
    }
  }

  CMX_ASSIGN_OR_RETURN(Projection projection, decode_document(authority, /*strict=*/false));
  std::map<std::string, MigrationRecord> records;
  const size_t paired = std::min(projection.replica.sheet_keys.size(), projection.model.sheets.size());
  for (size_t i = 0; i < paired; ++i) {
    model::SheetModel& sheet = projection.model.sheets[i];
    records.emplace(projection.replica.sheet_keys[i],
                    MigrationRecord{json::sheet_hyperlinks_to_json(sheet.hyperlinks), json::sheet_charts_to_json(sheet.charts),
                                    std::move(sheet.col_widths), std::move(sheet.row_heights), sheet.freeze_pane});
  }
  CMX_TRY(migrate_sheets(doc, *version, records));
  CMX_TRY(write_current_metadata(doc, base));
  return true;
}

size_t state_vector_entry_count(const Authority& authority) {
  auto lock = authority.doc->read_lock();
  return authority.doc->state_vector().size();
}

namespace {

// The replica under `replica_id` holding the bootstrap: built straight from
// the workbook, or, for a workbook the bootstrap or its decoding refuses,
// replayed from the encoded bootstrap, which says why.
Result<std::unique_ptr<crdt::Doc>, AuthorityError> hydrated_replica(const model::WorkbookModel& workbook,
                                                                    const AuthoredBase& base, uint64_t replica_id) {
  auto created = crdt::Doc::create(replica_id);
  if (!created) return unexpected(state_error(write_failure(created.error())));
  if (hydrate_bootstrap(**created, workbook, base)) return std::move(*created);
  std::vector<uint8_t> update;
  {
    auto bootstrap = build_bootstrap_document(workbook, base);
    if (!bootstrap) return unexpected(state_error(std::move(bootstrap).error()));
    update = encode_document_state(**bootstrap);
  }
  created = crdt::Doc::create(replica_id);
  if (!created) return unexpected(state_error(write_failure(created.error())));
  auto hydrated = hydrate_from_update(**created, update);
  if (!hydrated) return unexpected(state_error(std::move(hydrated).error()));
  return std::move(*created);
}

// The authored base, shared by the authority and its copies.
Result<std::shared_ptr<const AuthoredBase>, AuthorityError> shared_base(
    const model::WorkbookModel& workbook, const std::vector<DeclaredDimensions>& declared,
    const std::optional<model::StyleSheet>& declared_styles) {
  auto built = build_authored_base(workbook, declared, declared_styles);
  if (!built) return unexpected(state_error(std::move(built).error()));
  return std::make_shared<const AuthoredBase>(std::move(*built));
}

// The authority of that replica over its base.
Result<Authority, AuthorityError> hydrated_authority(const model::WorkbookModel& workbook,
                                                     std::shared_ptr<const AuthoredBase> base, uint64_t replica_id) {
  CMX_ASSIGN_OR_RETURN(std::unique_ptr<crdt::Doc> replica, hydrated_replica(workbook, *base, replica_id));
  Authority authority;
  authority.doc = std::move(replica);
  authority.base = std::move(base);
  return authority;
}

}  // namespace

Result<Authority, AuthorityError> open_replica_direct(const model::WorkbookModel& workbook,
                                                      const std::vector<DeclaredDimensions>& declared,
                                                      const std::optional<model::StyleSheet>& declared_styles,
                                                      uint64_t client_id) {
  CMX_ASSIGN_OR_RETURN(std::shared_ptr<const AuthoredBase> base, shared_base(workbook, declared, declared_styles));
  if (client_id == base->bootstrap_client_id) {
    return unexpected(AuthorityError{AuthorityError::Kind::kClientIdConflict, client_id, {}});
  }
  return hydrated_authority(workbook, std::move(base), client_id);
}

Result<Authority, AuthorityError> open_unprojected_replica(const model::WorkbookModel& workbook,
                                                           const std::vector<DeclaredDimensions>& declared,
                                                           const std::optional<model::StyleSheet>& declared_styles,
                                                           uint64_t replica_id) {
  CMX_ASSIGN_OR_RETURN(std::shared_ptr<const AuthoredBase> base, shared_base(workbook, declared, declared_styles));
  while (replica_id == base->bootstrap_client_id) replica_id = crdt::Doc::random_client_id();
  return hydrated_authority(workbook, std::move(base), replica_id);
}

Result<OpenedReplica, AuthorityError> open_replica(const model::WorkbookModel& workbook,
                                                   const std::vector<DeclaredDimensions>& declared,
                                                   const std::optional<model::StyleSheet>& declared_styles,
                                                   std::optional<uint64_t> client_id) {
  CMX_ASSIGN_OR_RETURN(std::shared_ptr<const AuthoredBase> base, shared_base(workbook, declared, declared_styles));
  if (client_id && *client_id == base->bootstrap_client_id) {
    return unexpected(AuthorityError{AuthorityError::Kind::kClientIdConflict, *client_id, {}});
  }
  auto bootstrap = build_bootstrap_document(workbook, *base);
  if (!bootstrap) return unexpected(state_error(std::move(bootstrap).error()));

  OpenedReplica opened;
  opened.bootstrap_update = encode_document_state(**bootstrap);
  bootstrap->reset();

  std::unique_ptr<crdt::Doc> replica;
  if (client_id) {
    auto created = crdt::Doc::create(*client_id);
    if (!created) return unexpected(state_error(write_failure(created.error())));
    replica = std::move(*created);
  } else {
    do {
      replica = crdt::Doc::create_random();
    } while (replica->client_id() == base->bootstrap_client_id);
  }
  auto hydrated = hydrate_from_update(*replica, opened.bootstrap_update);
  if (!hydrated) return unexpected(state_error(std::move(hydrated).error()));

  opened.authority.doc = std::move(replica);
  opened.authority.base = std::move(base);
  auto projection = decode_document(opened.authority, /*strict=*/true);
  if (!projection) return unexpected(state_error(std::move(projection).error()));
  opened.projection = std::move(*projection);
  return opened;
}

}  // namespace cmx::collab
