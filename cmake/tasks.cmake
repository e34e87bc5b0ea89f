# Tasks: the worker's task flow, the task hand-off, the launcher self-update,
# the client launch and the Automap installer, with their Win32 tests.
if(WIN32)
  target_sources(morvel_win32 PRIVATE
    app/task_handoff_win32.cpp
    clients/automap_win32.cpp
    clients/launch_win32.cpp
    update/questions_win32.cpp
    update/self_update_win32.cpp
    update/worker_win32.cpp
  )

  # Stands in for a game client: records its command line and working folder.
  add_executable(fake_client tests/support/fake_client.cpp)
  target_include_directories(fake_client PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(fake_client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)

  morvel_win32_test(clients_tests tests/win32/clients_test.cpp)
  add_dependencies(clients_tests fake_client)
  set_target_properties(clients_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)
endif()

if(WIN32 AND TARGET morvel_test_support)
  # Against nginx and the fault server, over the trees of tests/support/fixtures/tasks.sh.
  morvel_win32_test(worker_tests tests/win32/worker_test.cpp)
  target_link_libraries(worker_tests PRIVATE morvel_test_support)
  add_dependencies(worker_tests fake_client)

  # Its own main: a copy of the program plays the launcher that replaces itself.
  add_executable(self_update_tests tests/win32/self_update_test.cpp)
  target_link_libraries(self_update_tests PRIVATE morvel_test_support morvel_win32 gtest)

  # Its own main: copies of the program play the entry's end with a live worker.
  add_executable(finish_process_tests tests/win32/finish_process_test.cpp)
  target_link_libraries(finish_process_tests PRIVATE morvel_win32 morvel_test_support gtest)

  set_target_properties(worker_tests self_update_tests finish_process_tests PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/win32)
endif()
