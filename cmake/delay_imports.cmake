# Delay-load import libraries for the Windows programs.  A program run from
# a Downloads folder would otherwise load any DLL of a name that the
# system's loader looks for in the program's own folder first (the
# dependencies of every DLL that is not a KnownDLL).  The programs
# import only kernel32 and msvcrt at load time; every other system DLL is
# loaded on first use, after their start-up code has limited the DLL search
# to the system folder (programs/setup/safe_start.cpp).
#
# For each DLL, a delay-load library of the same name is made at configure
# time from the toolchain's own import library, in a folder that the
# programs' link searches first, so every "-lNAME" of theirs takes it.
set(BRELVANE_DELAYED_DLLS advapi32 comctl32 comdlg32 gdi32 ole32 oleaut32 shell32 shlwapi
                          user32 winspool)
# The kernel32 calls that Windows XP and Server 2003 lack, delay-loaded from
# libkernel32_newer.a so the programs start there; where the system has
# none, the delay-load helper takes a stand-in (platform/win32/older_windows.h).
set(BRELVANE_NEWER_KERNEL32 CompareStringOrdinal GetFileInformationByHandleEx
                            SetFileInformationByHandle OpenFileById GetTickCount64)

function(brelvane_make_delay_libs out_dir)
  set(nm ${BRELVANE_MINGW_TRIPLE}-nm)
  set(dlltool ${BRELVANE_MINGW_TRIPLE}-dlltool)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit names carry a leading underscore and, for stdcall, "@bytes",
    # which the DLL's own export names do not.
    set(machine i386)
    set(kill_at -k)
    set(prefix "__imp__")
  else()
    set(machine i386:x86-64)
    set(kill_at)
    set(prefix "__imp_")
  endif()
  file(MAKE_DIRECTORY "${out_dir}")
  foreach(dll IN LISTS BRELVANE_DELAYED_DLLS ITEMS kernel32)
    set(library "${out_dir}/lib${dll}.a")
    if(dll STREQUAL kernel32)
      set(library "${out_dir}/libkernel32_newer.a")
    endif()
    if(EXISTS "${library}")
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
                    OUTPUT_VARIABLE implib OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${nm} "${implib}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${nm} cannot read ${implib}")
    endif()
    if(dll STREQUAL kernel32)
      list(JOIN BRELVANE_NEWER_KERNEL32 "|" newer)
      string(REGEX MATCHALL " I ${prefix}(${newer})(@[0-9]+)?[\r\n]" entries "${symbols}")
    else()
      string(REGEX MATCHALL " I ${prefix}[^\r\n]+" entries "${symbols}")
    endif()
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(entry IN LISTS entries)
      string(REPLACE " I ${prefix}" "" name "${entry}")
      string(STRIP "${name}" name)
      string(APPEND def "${name}\n")
    endforeach()
    file(WRITE "${out_dir}/${dll}.def" "${def}")
    # dlltool names the library's members and symbols after the output path
    # it is given: a bare name, from the library's folder, keeps the build
    # folder's path out of them, so two checkouts link the same bytes.
    get_filename_component(library_name "${library}" NAME)
    execute_process(COMMAND ${dlltool} -m ${machine} ${kill_at} -d ${dll}.def
                            -D ${dll}.dll -y ${library_name}
                    WORKING_DIRECTORY "${out_dir}"
                    RESULT_VARIABLE failed ERROR_VARIABLE error)
    if(failed)
      message(FATAL_ERROR "${dlltool} made no delay-load library for ${dll}: ${error}")
    endif()
  endforeach()
endfunction()

# Links `target` against the delay-load libraries and the start-up code
# that limits the DLL search first.
#
# The linker orders the import tables' sections by the path of the library
# each comes from, so an absolute path to the delay-load folder would put
# its tables before or after the toolchain's (under /usr) depending on where
# the checkout lies, and two checkouts would link different bytes.  The
# folder is named relative to the folder the link runs in instead, which
# sorts the same way wherever the checkout is.
function(brelvane_start_safely target)
  set(delayed "${CMAKE_BINARY_DIR}/delayed")
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(link_folder "${CMAKE_BINARY_DIR}")
  else()
    set(link_folder "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  file(RELATIVE_PATH relative "${link_folder}" "${delayed}")
  target_link_options(${target} BEFORE PRIVATE "-L${relative}")
  target_link_libraries(${target} PRIVATE brelvane_safe_start kernel32_newer delayimp)
  # The libraries are made at configure time; a program links again when
  # one of them is made anew.
  list(TRANSFORM BRELVANE_DELAYED_DLLS REPLACE "(.+)" "${delayed}/lib\\1.a" OUTPUT_VARIABLE libraries)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries}
                                                             "${delayed}/libkernel32_newer.a")
endfunction()
