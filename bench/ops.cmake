cmx_add_bench(ops SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ops_bench.cpp DEPS cmx_ops)
