# The launcher exe (the entry, every Win32 module, the window, the embedded
# resources and a set of build values; GUI subsystem, static, stripped), its
# loopback builds for the demo and the end-to-end suite, and the sample clients
# they publish.
set(MORVEL_LOOPBACK_PORT 47443 CACHE STRING "HTTPS port on loopback of the demo and end-to-end launcher builds")

if(WIN32)
  # Sample game clients: each opens a window with its name.
  foreach(client otc classic)
    add_executable(sample_client_${client} WIN32 ${CMAKE_SOURCE_DIR}/tests/support/sample_client.cpp)
    target_include_directories(sample_client_${client} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_options(sample_client_${client} PRIVATE -municode -s)
    set_target_properties(sample_client_${client} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/support)
  endforeach()
  target_compile_definitions(sample_client_otc PRIVATE "SAMPLE_CLIENT_NAME=L\"Morvel Global\"")
  target_compile_definitions(sample_client_classic PRIVATE "SAMPLE_CLIENT_NAME=L\"Tibia 8.60\"")
endif()

if(WIN32 AND TARGET morvel_ui_win32 AND TARGET morvel_resources)
  function(morvel_launcher_exe name build_values)
    add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/app/main_win32.cpp)
    target_link_libraries(${name} PRIVATE morvel_ui_win32 morvel_win32 morvel_resources ${build_values} morvel_win32)
    target_link_options(${name} PRIVATE -municode -s)
  endfunction()
  morvel_launcher_exe(Morvel-Global-Launcher morvel_file_host)
  set_target_properties(Morvel-Global-Launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  # Against nginx on 127.0.0.1 (a private network namespace in the suite): the
  # release's version and a newer one that the self-update fetches.
  foreach(version 2 3)
    morvel_build_values(morvel_loopback_values_v${version} localhost ${MORVEL_LOOPBACK_PORT} ${version})
    morvel_launcher_exe(loopback_launcher_v${version} morvel_loopback_values_v${version})
    set_target_properties(loopback_launcher_v${version} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/e2e)
  endforeach()
endif()
