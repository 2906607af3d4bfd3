cmx_add_fuzzer(xml_reader SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_reader_fuzz.cpp DEPS cmx_xml)
