# Bounded scan of incoming updates and state vectors.
cmx_add_fuzzer(update_scan SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/update_scan_fuzz.cpp DEPS cmx_collab)
# Projection and migration of documents that peers changed.
cmx_add_fuzzer(document SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/document_fuzz.cpp DEPS cmx_collab)
