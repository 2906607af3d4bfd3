cmx_add_fuzzer(xml_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_reader_fuzz.cpp DEPS cmx_xml)
cmx_add_fuzzer(xmltree SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xmltree_fuzz.cpp DEPS cmx_xml)
