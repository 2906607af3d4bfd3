# Bounded scan of incoming updates and state vectors.
cmx_add_fuzzer(update_scan SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/update_scan_fuzz.cpp DEPS cmx_collab)
