# Shared build helpers.

# brelvane_headers(TARGET FOLDER): gives TARGET an include root of its own in
# the build tree, holding links to FOLDER's headers (not its subfolders'), as
# "FOLDER/name.h".  The source tree itself is no include path: a file sees
# its own target's headers and those of the targets it links (transitively,
# always down the layers), so an include that points up or sideways fails to
# build.
function(brelvane_headers target folder)
  set(root "${CMAKE_BINARY_DIR}/include/${target}")
  # Rebuilt at every configure, so a moved or removed header leaves no link.
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  file(GLOB headers CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.h")
  foreach(header IN LISTS headers)
    get_filename_component(name "${header}" NAME)
    file(CREATE_LINK "${header}" "${root}/${folder}/${name}" SYMBOLIC)
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

# brelvane_library(NAME FOLDER DEPENDENCY...): one folder's target.  A
# static library of FOLDER's sources (not its subfolders'), or an interface
# library when the folder holds headers only; it exposes FOLDER's headers and
# links the DEPENDENCY targets, those whose headers its files include.
function(brelvane_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
  brelvane_headers(${name} ${folder})
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
