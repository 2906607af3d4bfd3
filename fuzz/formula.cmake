cmx_add_fuzzer(formula SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formula_fuzz.cpp DEPS cmx_formula)
target_include_directories(fuzz_formula PRIVATE ${PROJECT_SOURCE_DIR}/tests/cpp/formula)
cmx_add_fuzzer(eval SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/eval_fuzz.cpp DEPS cmx_formula)
cmx_add_fuzzer(recalc SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/recalc_fuzz.cpp DEPS cmx_formula)
