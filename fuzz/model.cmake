cmx_add_fuzzer(address SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/address_fuzz.cpp DEPS cmx_model)
