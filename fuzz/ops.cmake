cmx_add_fuzzer(format_edit SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/format_edit_fuzz.cpp DEPS cmx_ops)
cmx_add_fuzzer(ref_rewrite SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ref_rewrite_fuzz.cpp DEPS cmx_ops)
