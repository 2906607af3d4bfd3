cmx_add_bench(collab SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/collab_bench.cpp
              ${CMAKE_CURRENT_SOURCE_DIR}/document_bench.cpp DEPS cmx_collab)
