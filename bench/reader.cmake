cmx_add_bench(reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/reader_bench.cpp DEPS cmx_reader)
