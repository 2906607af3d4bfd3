# Third-party libraries, all from Debian packages.
find_package(ZLIB REQUIRED)
# Whole-buffer inflate and CRC-32 for reading packages; Debian 12 ships only
# its pkg-config file.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# Streaming inflate for big worksheets, read through a window.
pkg_check_modules(LIBISAL REQUIRED IMPORTED_TARGET libisal)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(absl REQUIRED)
find_package(Threads REQUIRED)

# cmx_add_library(name SOURCES ... DEPS ...): one static library per folder.
function(cmx_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# cmx_add_test(folder DEPS ...): one GoogleTest binary per library, made of
# every *_test.cpp in tests/cpp/<folder>/.
function(cmx_add_test folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(target test_${folder})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/cpp)
  # Fixtures are found from the source tree, not from __FILE__, which a
  # compiler cache may have made relative to the build directory.
  target_compile_definitions(${target} PRIVATE CMX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${folder} COMMAND ${target})
endfunction()

# cmx_add_fuzzer(name SOURCES ... DEPS ...): one libFuzzer binary.
function(cmx_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()
