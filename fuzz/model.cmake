cmx_add_fuzzer(address SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/address_fuzz.cpp DEPS cmx_model)
cmx_add_fuzzer(numfmt SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/numfmt_fuzz.cpp DEPS cmx_model)
