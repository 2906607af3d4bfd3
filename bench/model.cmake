cmx_add_bench(model SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/model_bench.cpp DEPS cmx_model)
