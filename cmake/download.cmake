# Download area: the file check and download. The inflate-and-verify steps and
# the progress arithmetic are pure logic (unit tests, fuzzing); the Win32 module
# follows the launcher's calls; its tests run under Wine against nginx and the
# fault server.
target_sources(morvel_logic PRIVATE
  ${CMAKE_SOURCE_DIR}/update/download_plan.cpp
  ${CMAKE_SOURCE_DIR}/update/download_progress.cpp
  ${CMAKE_SOURCE_DIR}/update/inflate_verify.cpp
)

if(WIN32)
  target_sources(morvel_win32 PRIVATE ${CMAKE_SOURCE_DIR}/update/download_win32.cpp)
endif()

if(MORVEL_FUZZ AND NOT WIN32)
  # Built from the sources so the verifier carries libFuzzer's coverage.
  add_executable(fuzz_inflate
    ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_inflate.cpp
    ${CMAKE_SOURCE_DIR}/update/inflate_verify.cpp
    ${CMAKE_SOURCE_DIR}/update/sha256.cpp
    ${CMAKE_SOURCE_DIR}/update/sha256_x86.cpp
  )
  target_include_directories(fuzz_inflate PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(fuzz_inflate PRIVATE ZLIB::ZLIB)
  target_compile_options(fuzz_inflate PRIVATE -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  target_link_options(fuzz_inflate PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(fuzz_inflate PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fuzz)
endif()

if(WIN32)
  # Against the test servers; the space tests run on a small tmpfs that their
  # hook (tests/win32/download_space_tests.hook.sh) mounts around them.
  foreach(name download_tests download_space_tests)
    string(REPLACE "_tests" "_test.cpp" source ${name})
    morvel_win32_test(${name} ${CMAKE_SOURCE_DIR}/tests/win32/${source})
    target_link_libraries(${name} PRIVATE morvel_test_support)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)
  endforeach()

  # Timed under Wine by bench/download.sh: the whole install and the check pass,
  # and the floor of the download's design layer by layer.
  add_library(morvel_bench_support STATIC ${CMAKE_SOURCE_DIR}/bench/bench_support_win32.cpp)
  target_link_libraries(morvel_bench_support PUBLIC morvel_test_support)
  add_executable(download_bench ${CMAKE_SOURCE_DIR}/bench/download_bench.cpp)
  target_link_libraries(download_bench PRIVATE morvel_bench_support psapi)
  add_executable(download_floor ${CMAKE_SOURCE_DIR}/bench/download_floor.cpp)
  target_link_libraries(download_floor PRIVATE morvel_bench_support)
  set_target_properties(download_bench download_floor PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
