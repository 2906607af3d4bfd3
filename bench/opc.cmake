cmx_add_bench(opc SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/opc_bench.cpp DEPS cmx_opc ZLIB::ZLIB)
