# Shared build helpers.

# Portable sources of a subsystem folder: every .cpp except the Win32-only
# ones (*_dlg.cpp, *_win32.cpp), which build only for Windows.
function(brelvane_portable_sources out folder)
  file(GLOB all CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp")
  set(kept)
  foreach(f IN LISTS all)
    if(NOT f MATCHES "_(dlg|win32)\\.cpp$")
      list(APPEND kept "${f}")
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# Win32-only sources of a subsystem folder.
function(brelvane_win32_sources out folder)
  file(GLOB all CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*_dlg.cpp"
       "${PROJECT_SOURCE_DIR}/${folder}/*_win32.cpp")
  set(${out} ${all} PARENT_SCOPE)
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

# brelvane_core_library(NAME "folder;..." "dependency;...")
# A static library of the portable sources of the folders; an interface
# library while the folders hold no sources yet.
function(brelvane_core_library name folders deps)
  set(sources)
  foreach(folder IN LISTS folders)
    brelvane_portable_sources(folder_sources ${folder})
    list(APPEND sources ${folder_sources})
  endforeach()
  brelvane_library_of(${name} "${sources}" "${deps}")
endfunction()

# brelvane_glob_library(NAME "glob" "dependency;...")
function(brelvane_glob_library name pattern deps)
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${pattern}")
  brelvane_library_of(${name} "${sources}" "${deps}")
endfunction()

function(brelvane_library_of name sources deps)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC ${deps})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${deps})
  endif()
endfunction()
