cmx_add_bench(formula SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formula_bench.cpp DEPS cmx_formula)
cmx_add_bench(eval SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/eval_bench.cpp DEPS cmx_formula)
cmx_add_bench(array SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/array_bench.cpp DEPS cmx_formula)
cmx_add_bench(recalc SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/recalc_bench.cpp DEPS cmx_formula)
cmx_add_bench(aggregate SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/aggregate_bench.cpp DEPS cmx_formula)
# Text, date, working-day and financial functions.
cmx_add_bench(functions SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/functions_bench.cpp DEPS cmx_formula)
# Lookup and reference functions.
cmx_add_bench(lookup SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lookup_bench.cpp DEPS cmx_formula)
# ---- Dispersion, order and paired statistics over a million numbers
cmx_add_bench(stats SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/stats_bench.cpp DEPS cmx_formula)
# ---- MAP, REDUCE and SEQUENCE in array context
cmx_add_bench(lambda SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/lambda_bench.cpp DEPS cmx_formula)
# ---- SORT, SORTBY, UNIQUE and FILTER over a million rows
cmx_add_bench(filter_sort SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/filter_sort_bench.cpp DEPS cmx_formula)
