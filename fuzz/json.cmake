cmx_add_fuzzer(json_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_reader_fuzz.cpp DEPS cmx_json)
cmx_add_fuzzer(json_records SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_records_fuzz.cpp DEPS cmx_json)
# structured export documents and export settings
cmx_add_fuzzer(json_export SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/json_export_fuzz.cpp DEPS cmx_json)
cmx_add_fuzzer(edit_request SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/edit_request_fuzz.cpp DEPS cmx_json)
