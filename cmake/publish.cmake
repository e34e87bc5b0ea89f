# Publishing area: morvel-publish, the admin's tool that builds and verifies the
# file host's tree. Portable C++17; built natively and, as an exe, for Windows.
find_package(Threads REQUIRED)

add_library(morvel_publish_lib STATIC
  ${CMAKE_SOURCE_DIR}/tools/publish/body.cpp
  ${CMAKE_SOURCE_DIR}/tools/publish/platform.cpp
  ${CMAKE_SOURCE_DIR}/tools/publish/progress.cpp
  ${CMAKE_SOURCE_DIR}/tools/publish/publish.cpp
  ${CMAKE_SOURCE_DIR}/tools/publish/tree.cpp
  ${CMAKE_SOURCE_DIR}/tools/publish/verify.cpp
)
if(WIN32)
  # Utf8ToWide comes from the Win32 text module there, which morvel_logic
  # needs too: listed again after it.
  target_link_libraries(morvel_publish_lib PUBLIC morvel_win32 morvel_logic morvel_win32 Threads::Threads)
else()
  target_link_libraries(morvel_publish_lib PUBLIC morvel_logic Threads::Threads)
endif()

add_executable(morvel-publish ${CMAKE_SOURCE_DIR}/tools/publish/main.cpp)
target_link_libraries(morvel-publish PRIVATE morvel_publish_lib)
if(WIN32)
  target_link_libraries(morvel-publish PRIVATE shell32)
endif()
set_target_properties(morvel-publish PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/publish)

if(NOT WIN32)
  add_executable(publish_tests ${CMAKE_SOURCE_DIR}/tests/unit/publish_test.cpp)
  target_link_libraries(publish_tests PRIVATE morvel_publish_lib GTest::gtest_main)
  set_target_properties(publish_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/unit)
endif()
