cmx_add_bench(model SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/model_bench.cpp DEPS cmx_model)
cmx_add_bench(numfmt SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/numfmt_bench.cpp DEPS cmx_model)
