cmx_add_fuzzer(json_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_reader_fuzz.cpp DEPS cmx_json)
