# Network area: the WinHTTP client and the manifest download (Win32 modules),
# the file host's build-time values (morvel_file_host, for the exe only), the
# test servers' support code and the Win32 tests that run against them.

if(NOT MORVEL_FILE_HOST MATCHES "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")
  message(FATAL_ERROR "MORVEL_FILE_HOST must be a plain host name, not '${MORVEL_FILE_HOST}'")
endif()
if(NOT MORVEL_FILE_PORT MATCHES "^[0-9]+$" OR MORVEL_FILE_PORT LESS 1 OR MORVEL_FILE_PORT GREATER 65535)
  message(FATAL_ERROR "MORVEL_FILE_PORT must be a port number, not '${MORVEL_FILE_PORT}'")
endif()

target_sources(morvel_logic PRIVATE ${CMAKE_SOURCE_DIR}/update/file_host_url.cpp)

# The values built into a launcher exe: its file host and its own version. Only
# launcher exes link them: the test programs get a settable file host from
# morvel_test_support instead.
function(morvel_build_values name host port version)
  add_library(${name} STATIC ${CMAKE_SOURCE_DIR}/update/file_host.cpp ${CMAKE_SOURCE_DIR}/update/launcher_version.cpp)
  target_link_libraries(${name} PUBLIC morvel_logic)
  target_compile_definitions(${name} PRIVATE
    "MORVEL_FILE_HOST=\"${host}\"" "MORVEL_FILE_PORT=${port}" "MORVEL_LAUNCHER_VERSION=${version}")
endfunction()
morvel_build_values(morvel_file_host "${MORVEL_FILE_HOST}" "${MORVEL_FILE_PORT}" "${MORVEL_LAUNCHER_VERSION}")

if(WIN32)
  target_sources(morvel_win32 PRIVATE
    ${CMAKE_SOURCE_DIR}/update/http_win32.cpp
    ${CMAKE_SOURCE_DIR}/update/manifest_fetch_win32.cpp
  )
  target_link_libraries(morvel_win32 PUBLIC winhttp)

  # Run by scripts/test while it makes the Wine template prefix.
  add_executable(trust_test_ca ${CMAKE_SOURCE_DIR}/tests/support/trust_test_ca.cpp)
  target_link_libraries(trust_test_ca PRIVATE crypt32)
  target_link_options(trust_test_ca PRIVATE -municode)
  set_target_properties(trust_test_ca PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/support)

  # For every Win32 test that talks to the test servers.
  add_library(morvel_test_support STATIC ${CMAKE_SOURCE_DIR}/tests/win32/support/test_services.cpp)
  target_link_libraries(morvel_test_support PUBLIC morvel_win32)

  foreach(name http_tests file_host_tests)
    string(REPLACE "_tests" "_test.cpp" source ${name})
    morvel_win32_test(${name} ${CMAKE_SOURCE_DIR}/tests/win32/${source})
    target_link_libraries(${name} PRIVATE morvel_test_support ws2_32)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)
  endforeach()
endif()
