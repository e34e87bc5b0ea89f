# Manifest area: the parser (pure logic, in every build) and its fuzz target.
target_sources(morvel_logic PRIVATE ${CMAKE_SOURCE_DIR}/update/manifest.cpp)

if(MORVEL_FUZZ AND NOT WIN32)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "MORVEL_FUZZ needs clang (libFuzzer)")
  endif()
  # Built from the sources rather than against morvel_logic, so the parser
  # carries libFuzzer's coverage instrumentation.
  add_executable(fuzz_manifest
    ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_manifest.cpp
    ${CMAKE_SOURCE_DIR}/update/manifest.cpp
    ${CMAKE_SOURCE_DIR}/app/text.cpp
    ${CMAKE_SOURCE_DIR}/app/client_table.cpp
  )
  target_include_directories(fuzz_manifest PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_manifest PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(fuzz_manifest PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(fuzz_manifest PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fuzz)
endif()

# Benchmark: ParseManifest over a generated 100,000-file manifest (bench/manifest.sh).
add_executable(manifest_parse ${CMAKE_SOURCE_DIR}/bench/manifest_parse.cpp)
if(WIN32)
  # morvel_logic takes Utf8ToWide from morvel_win32 there: list it again after.
  target_link_libraries(manifest_parse PRIVATE morvel_win32 morvel_logic morvel_win32)
else()
  target_link_libraries(manifest_parse PRIVATE morvel_logic)
endif()
set_target_properties(manifest_parse PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
