# Shared build helpers.

# brelvane_headers(TARGET FOLDER HEADER...): gives TARGET an include root of
# its own in the build tree, holding links to the named headers of FOLDER, as
# "FOLDER/name.h".  The source tree itself is no include path: a file sees
# its own target's headers and those of the targets it links (transitively,
# always down the layers), so an include that points up or sideways fails to
# build, and so does a header no target lists.
function(brelvane_headers target folder)
  set(root "${CMAKE_BINARY_DIR}/include/${target}")
  # Rebuilt at every configure, so a moved or removed header leaves no link.
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  foreach(header IN LISTS ARGN)
    set(path "${PROJECT_SOURCE_DIR}/${folder}/${header}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${target} lists ${folder}/${header}, which does not exist")
    endif()
    file(CREATE_LINK "${path}" "${root}/${folder}/${header}" SYMBOLIC)
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${root}")
  elseif(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE "${root}")
  else()
    target_include_directories(${target} PUBLIC "${root}")
  endif()
endfunction()

# brelvane_library(NAME FOLDER [SOURCES file...] [HEADERS file...]
#                  [LINKS target...]): one folder's target, its files named
# relative to FOLDER.  A static library of the SOURCES, or an interface
# library when the folder holds headers only; it exposes the HEADERS and links
# the LINKS targets, those whose headers its files include.  Every file is
# listed, so a file dropped into a folder joins no target by itself.
function(brelvane_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "SOURCES;HEADERS;LINKS")
  list(TRANSFORM arg_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/${folder}/" OUTPUT_VARIABLE sources)
  list(TRANSFORM arg_HEADERS PREPEND "${PROJECT_SOURCE_DIR}/${folder}/" OUTPUT_VARIABLE headers)
  if(sources)
    add_library(${name} STATIC ${sources} ${headers})
    target_link_libraries(${name} PUBLIC ${arg_LINKS})
  else()
    add_library(${name} INTERFACE ${headers})
    target_link_libraries(${name} INTERFACE ${arg_LINKS})
  endif()
  brelvane_headers(${name} ${folder} ${arg_HEADERS})
endfunction()

# A program that can carry modules must end in four bytes that form no
# plausible record size; the check runs after every link and pads with zero
# bytes when needed.
function(brelvane_package_ready target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}>
            -P "${PROJECT_SOURCE_DIR}/cmake/pad_image.cmake"
    VERBATIM)
endfunction()

# Puts a user-facing program into BRELVANE_TOOLS_DIR.
function(brelvane_tool target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${BRELVANE_TOOLS_DIR}")
endfunction()
