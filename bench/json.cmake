cmx_add_bench(json SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp DEPS cmx_json)
# structured export documents
cmx_add_bench(json_export SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_export_bench.cpp DEPS cmx_json)
