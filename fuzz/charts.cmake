cmx_add_fuzzer(workbook SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/workbook_fuzz.cpp DEPS cmx_reader cmx_charts)
