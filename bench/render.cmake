cmx_add_bench(render SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/render_bench.cpp DEPS cmx_render)
