# Delay-import libraries for the system DLLs that are not KnownDLLs.
#
# The loader resolves a program's ordinary imports before its entry runs, and for a DLL that is
# not a KnownDLL it looks first in the program's own folder. The setup is started from Downloads,
# where anyone can leave a winhttp.dll or bcrypt.dll. Imported through a delay-load library, such a
# DLL is loaded on its first call instead, by LoadLibrary, after the entry has restricted the
# search to System32 (SetDefaultDllDirectories in app/main.cpp).
#
# GNU ld has no /DELAYLOAD switch, but dlltool writes delay-load libraries (--output-delaylib) and
# MinGW-w64's runtime carries the __delayLoadHelper2 they call. The list of names comes from
# MinGW's own import library, so that every function of the DLL goes through the delay library
# and none can fall back silently to an ordinary import.
#
# orvalo_delay_import(dll): an imported library target orvalo::delay_<dll> for <dll>.dll.

find_program(ORVALO_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
find_program(ORVALO_NM NAMES x86_64-w64-mingw32-nm REQUIRED)

function(orvalo_delay_import dll)
  set(dir ${CMAKE_BINARY_DIR}/delay-imports)
  set(def ${dir}/${dll}.def)
  set(lib ${dir}/lib${dll}_delay.a)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
    OUTPUT_VARIABLE import_lib OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(NOT EXISTS ${import_lib})
    message(FATAL_ERROR "MinGW import library lib${dll}.a not found")
  endif()
  execute_process(COMMAND ${ORVALO_NM} ${import_lib}
    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
  list(TRANSFORM imports REPLACE "^ I __imp_" "")
  list(REMOVE_DUPLICATES imports)
  list(SORT imports)
  if(NOT imports)
    message(FATAL_ERROR "no exports read from ${import_lib}")
  endif()
  list(JOIN imports "\n" exports)
  file(MAKE_DIRECTORY ${dir})
  # Rewritten only when the list changes: a new library on every configure would relink every
  # program of the build.
  file(WRITE ${def}.new "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  file(COPY_FILE ${def}.new ${def} ONLY_IF_DIFFERENT)
  if(NOT EXISTS ${lib} OR ${def} IS_NEWER_THAN ${lib})
    execute_process(COMMAND ${ORVALO_DLLTOOL} --input-def ${def} --dllname ${dll}.dll
        --output-delaylib ${lib}
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
  add_library(orvalo::delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(orvalo::delay_${dll} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()
