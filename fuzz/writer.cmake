cmx_add_fuzzer(new_package SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/new_package_fuzz.cpp DEPS cmx_writer cmx_reader)
cmx_add_fuzzer(sheet_patch SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sheet_patch_fuzz.cpp DEPS cmx_writer cmx_reader)
