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

# Layers. A layer is one library per half: morvel_NAME (portable logic, no
# Windows header) and, in the Windows build, morvel_NAME_win32 (its thin Win32
# modules). morvel_layer(NAME) opens one in the calling folder; the folder then
# states what the layer stands on with target_link_libraries and fills it with
# morvel_logic_sources and morvel_win32_sources. A layer without portable logic
# passes NO_LOGIC. A folder's headers are found only through an include root of
# its own (a link in the build tree) that its libraries pass on to the libraries
# linking them: an include of a layer not stood on fails to compile, a call to one
# fails to link.
macro(morvel_layer name)
  cmake_parse_arguments(morvel_layer_arg "NO_LOGIC" "" "" ${ARGN})
  set(MORVEL_LAYER ${name})
  morvel_include_root(root)
  if(NOT morvel_layer_arg_NO_LOGIC)
    add_library(morvel_${name} STATIC)
    target_include_directories(morvel_${name} PUBLIC ${root})
  endif()
  if(WIN32)
    add_library(morvel_${name}_win32 STATIC)
    target_include_directories(morvel_${name}_win32 PUBLIC ${root})
  endif()
endmacro()

# The include root of the calling folder: a folder holding a folder named after
# it with a link to each of its files, so "folder/header.h" resolves and no other
# folder's header does, not even one of a layer in a folder below (app/shell/).
function(morvel_include_root out)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${PROJECT_BINARY_DIR}/include_roots/${folder})
  if(IS_SYMLINK ${root}/${folder})
    file(REMOVE ${root}/${folder})  # a build tree that linked the whole folder
  endif()
  file(MAKE_DIRECTORY ${root}/${folder})
  file(GLOB files LIST_DIRECTORIES false CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
    ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(file IN LISTS files)
    if(NOT IS_SYMLINK ${root}/${folder}/${file})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${file} ${root}/${folder}/${file} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# Adds the calling folder's portable files to its layer's portable half (the
# fuzz targets compile the same list again).
function(morvel_logic_sources)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE files)
  target_sources(morvel_${MORVEL_LAYER} PRIVATE ${files})
endfunction()

# Adds the calling folder's Win32 modules to its layer's Win32 half.
function(morvel_win32_sources)
  list(TRANSFORM ARGN PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE files)
  target_sources(morvel_${MORVEL_LAYER}_win32 PRIVATE ${files})
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
