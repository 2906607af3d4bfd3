cmx_add_fuzzer(session_open SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/session_open_fuzz.cpp DEPS cmx_session cmx_writer)
cmx_add_fuzzer(remote_update SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/remote_update_fuzz.cpp DEPS cmx_session cmx_writer)
cmx_add_fuzzer(typed_input SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/typed_input_fuzz.cpp DEPS cmx_session)
