cmx_add_fuzzer(workbook SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/workbook_fuzz.cpp DEPS cmx_reader cmx_charts)
# chart model
cmx_add_fuzzer(chart_model SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/chart_model_fuzz.cpp DEPS cmx_charts)
