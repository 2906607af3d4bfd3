cmx_add_fuzzer(crdt SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crdt_fuzz.cpp DEPS cmx_crdt)
cmx_add_fuzzer(crdt_ops SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crdt_ops_fuzz.cpp DEPS cmx_crdt)
cmx_add_fuzzer(crdt_apply SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crdt_apply_fuzz.cpp DEPS cmx_crdt)
