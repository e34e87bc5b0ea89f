# Tasks: the worker's task flow, the task hand-off, the launcher self-update,
# the client launch and the Automap installer, with their Win32 tests.
if(WIN32)
  target_sources(morvel_win32 PRIVATE
    app/task_handoff_win32.cpp
    clients/automap_win32.cpp
    clients/launch_win32.cpp
    update/questions_win32.cpp
    update/self_update_win32.cpp
  )

  # Stands in for a game client: records its command line and working folder.
  add_executable(fake_client tests/support/fake_client.cpp)
  set_target_properties(fake_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)

  morvel_win32_test(clients_tests tests/win32/clients_test.cpp)
  add_dependencies(clients_tests fake_client)
  set_target_properties(clients_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)
endif()
