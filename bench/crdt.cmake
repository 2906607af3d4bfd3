cmx_add_bench(crdt SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crdt_bench.cpp DEPS cmx_crdt)
