cmx_add_fuzzer(worksheet SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/worksheet_fuzz.cpp DEPS cmx_reader)
