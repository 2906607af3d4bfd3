// The base fingerprint: a SHA-256 over a fixed byte stream of the workbook
// as read from its package, per schema version. Replicas share a document
// only when they compute the same value; its first bytes also give the
// client id under which every replica encodes the same bootstrap.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/sha256.h"
#include "model/workbook.h"

namespace cmx::collab {

inline constexpr uint32_t kFirstFingerprintSchemaVersion = 3;
inline constexpr uint32_t kLastFingerprintSchemaVersion = 6;

struct BaseFingerprint {
  std::string text;              // 64 lower-case hexadecimal digits
  uint64_t bootstrap_client_id;  // 1 to 2^53 - 1
  friend bool operator==(const BaseFingerprint&, const BaseFingerprint&) = default;
};

// Fails only for a schema version outside 3 to 6.
Result<BaseFingerprint, std::string> compute_base_fingerprint(const model::WorkbookModel& workbook,
                                                              uint32_t schema_version,
                                                              bool include_defined_names,
                                                              bool include_column_styles);

struct FingerprintRequest {
  uint32_t schema_version;
  bool include_defined_names;
  bool include_column_styles;
};
// Several fingerprints of one workbook in one walk of its sheets, each the
// one compute_base_fingerprint gives, in the order asked.
Result<std::vector<BaseFingerprint>, std::string> compute_base_fingerprints(
    const model::WorkbookModel& workbook, std::span<const FingerprintRequest> requests);

// Feeds the byte length (u64, little-endian) and then the bytes.
void digest_length_prefixed(Sha256& digest, std::string_view bytes);

// The first eight digest bytes big-endian, low 53 bits; 1 instead of 0.
uint64_t bootstrap_client_id_of(const Sha256Digest& digest);

// The 24-byte string that opens the stream of a schema version (3 to 6).
std::string_view fingerprint_domain(uint32_t schema_version);

}  // namespace cmx::collab
