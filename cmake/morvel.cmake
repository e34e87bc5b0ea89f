# Build settings shared by every folder, and the functions the folders call.

if(MSVC)
  add_compile_options(/W4)
else()
  add_compile_options(-Wall -Wextra)
endif()

if(MORVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)  # the exe must run with no DLL beside it
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# Adds the calling folder's portable files to morvel_logic and to the list the
# fuzz targets build from, so both compile the same sources.
function(morvel_logic_sources)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE files)
  target_sources(morvel_logic PRIVATE ${files})
  set_property(GLOBAL APPEND PROPERTY MORVEL_LOGIC_SOURCES ${files})
endfunction()

# Adds the calling folder's Win32 modules to morvel_win32.
function(morvel_win32_sources)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE files)
  target_sources(morvel_win32 PRIVATE ${files})
endfunction()
