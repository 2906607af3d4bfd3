cmx_add_bench(xml SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_bench.cpp DEPS cmx_xml)
