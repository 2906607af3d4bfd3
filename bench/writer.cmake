cmx_add_bench(writer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/writer_bench.cpp DEPS cmx_writer)
