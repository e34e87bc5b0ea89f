# Unit tests of the pure logic: built natively (tests/unit) and into the 32-bit
# Win32 logic test program (tests/win32), so both builds meet the same cases.
set(MORVEL_LOGIC_TESTS
  ${CMAKE_CURRENT_LIST_DIR}/download_logic_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inflate_verify_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/launcher_state_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest_trust_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pack_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/patch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resume_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sha256_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/texts_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_logic_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/verified_record_test.cpp
)
