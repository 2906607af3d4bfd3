# Markdown rendered from stored export documents
cmx_add_fuzzer(markdown_render SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/markdown_render_fuzz.cpp DEPS cmx_export)
