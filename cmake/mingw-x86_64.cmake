# Cross build for 64-bit Windows: the same program and tests as the i686 build,
# for machines whose kernel cannot start 32-bit Wine. The release stays i686.
set(MORVEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
