cmx_add_bench(charts SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/charts_bench.cpp DEPS cmx_charts)
