cmx_add_fuzzer(zip_archive SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/zip_archive_fuzz.cpp DEPS cmx_opc)
