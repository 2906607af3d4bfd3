cmx_add_fuzzer(worksheet SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/worksheet_fuzz.cpp DEPS cmx_reader)
cmx_add_fuzzer(source_package SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/source_package_fuzz.cpp DEPS cmx_reader)
