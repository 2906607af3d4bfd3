cmx_add_bench(json SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp DEPS cmx_json)
