# The launcher exe: the entry, every Win32 module, the window, the embedded
# resources and the release build values. GUI subsystem, static, stripped.
if(WIN32 AND TARGET morvel_ui_win32 AND TARGET morvel_resources)
  function(morvel_launcher_exe name build_values)
    add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/app/main_win32.cpp)
    target_link_libraries(${name} PRIVATE morvel_ui_win32 morvel_win32 morvel_resources ${build_values} morvel_win32)
    target_link_options(${name} PRIVATE -municode -s)
  endfunction()
  morvel_launcher_exe(Morvel-Global-Launcher morvel_file_host)
  set_target_properties(Morvel-Global-Launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
