cmx_add_bench(open_steps SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/open_steps.cpp DEPS cmx_session)
