// Opening builds the collaborative document every workbook keeps: the
// bootstrap identity is the workbook's own, the replica's is given or random,
// and a collaborative session keeps its replica's frozen structure.
#include <gtest/gtest.h>

#include "collab/hydration.h"
#include "session/open.h"
#include "session/views.h"
#include "session_test_util.h"

namespace cmx::session {
namespace {

using testing::named_sheets;
using testing::Package;
using testing::zip;

TEST(OpenDocument, BootstrapIdentityIsTheWorkbooksOwn) {
  const std::string bytes = zip(named_sheets({"One"}));
  auto first = bootstrap_session(bytes, true, std::nullopt);
  auto second = bootstrap_session(bytes, true, std::nullopt);
  ASSERT_TRUE(first && second);
  // Without a client id the document comes when something first needs it.
  EXPECT_EQ(first.value()->authority.doc, nullptr);
  ensure_document(*first.value());
  ensure_document(*second.value());
  const uint64_t bootstrap_id = first.value()->authority.base->bootstrap_client_id;
  EXPECT_EQ(second.value()->authority.base->bootstrap_client_id, bootstrap_id);
  EXPECT_NE(first.value()->version_id, second.value()->version_id);
  EXPECT_NE(first.value()->authority.doc->client_id(), bootstrap_id);
  EXPECT_FALSE(first.value()->collaborative());

  auto conflict = bootstrap_session(bytes, true, bootstrap_id);
  ASSERT_FALSE(conflict);
  EXPECT_EQ(engine_error_display(conflict.error()),
            "collaboration client ID " + std::to_string(bootstrap_id) + " conflicts with the workbook bootstrap ID");
}

TEST(OpenDocument, CollaborativeSessionKeepsItsReplica) {
  auto opened = bootstrap_session(zip(named_sheets({"One", "Two"})), true, 4242);
  ASSERT_TRUE(opened) << engine_error_display(opened.error());
  WorkbookSession& session = *opened.value();
  ASSERT_TRUE(session.collaborative());
  EXPECT_EQ(session.authority.doc->client_id(), 4242u);
  EXPECT_EQ(session.replica->sheet_keys, (std::vector<std::string>{"sheet:0", "sheet:1"}));
  EXPECT_EQ(session.replica->sheet_names, (std::vector<std::string>{"One", "Two"}));
  auto view = refresh_view_cache(session);
  ASSERT_TRUE(view);
  EXPECT_EQ(view.value().sheet_keys, session.replica->sheet_keys);
  // The projected model is what the document reproduces of the package.
  EXPECT_EQ(session.model.sheets[1].cells.at({0, 0}).value, model::CellValue::number(2));
  EXPECT_GE(collab::state_vector_entry_count(session.authority), 1u);
}

TEST(OpenDocument, AuthorityErrorsKeepTheirPayload) {
  using Kind = collab::AuthorityError::Kind;
  EXPECT_EQ(engine_error_display(from_authority_error({Kind::kClientIdConflict, 7, {}})),
            "collaboration client ID 7 conflicts with the workbook bootstrap ID");
  EXPECT_EQ(from_authority_error({Kind::kInvalidStateVector, 0, "x"}).kind, EngineErrorKind::InvalidStateVector);
  EXPECT_EQ(from_authority_error({Kind::kInvalidUpdate, 0, "x"}).kind, EngineErrorKind::InvalidUpdate);
  EXPECT_EQ(engine_error_display(from_authority_error({Kind::kCollaborativeState, 0, "x"})),
            "invalid collaborative workbook state: x");
}

}  // namespace
}  // namespace cmx::session
