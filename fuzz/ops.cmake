cmx_add_fuzzer(format_edit SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/format_edit_fuzz.cpp DEPS cmx_ops)
