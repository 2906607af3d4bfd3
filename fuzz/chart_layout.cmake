cmx_add_fuzzer(chart_layout SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/chart_layout_fuzz.cpp DEPS cmx_chart_layout)
