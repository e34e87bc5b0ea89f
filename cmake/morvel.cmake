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

# Links a program's system DLLs (import library names, e.g. winhttp) as
# delay imports: loaded at their first call, from System32 only once the entry
# has restricted the DLL search, never at start-up from the program's folder.
# Only kernel32 and the C runtime's msvcrt (KnownDLLs on every Windows) stay
# ordinary imports. List them after the libraries that call them.
function(morvel_delay_imports target)
  foreach(name ${ARGN})
    find_library(morvel_import_${name} NAMES ${name} REQUIRED NO_CACHE)
    set(out ${PROJECT_BINARY_DIR}/delay/lib${name}_delay.a)
    if(NOT TARGET morvel_delay_${name})
      add_custom_command(OUTPUT ${out}
        COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/delay_import.sh ${CMAKE_NM} ${CMAKE_DLLTOOL}
          ${morvel_import_${name}} ${name}.dll ${out}
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import.sh ${morvel_import_${name}} VERBATIM)
      add_custom_target(morvel_delay_${name} DEPENDS ${out})
    endif()
    add_dependencies(${target} morvel_delay_${name})
    target_link_libraries(${target} PRIVATE ${out})
  endforeach()
endfunction()
