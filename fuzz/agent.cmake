cmx_add_fuzzer(agent_requests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/agent_requests_fuzz.cpp
               DEPS cmx_agent cmx_writer)
