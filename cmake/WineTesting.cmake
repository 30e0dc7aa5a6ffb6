# Tests are Windows executables: CTest runs them under Wine through a small launcher that gives
# them the project's own prefix inside the build tree, a throwaway home (Wine links the desktop
# and other shell folders into $HOME) and the Chinese locale of our users.
set(ORVALO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(ORVALO_WINEHOME ${CMAKE_BINARY_DIR}/winehome)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The watchdog ends a test program that hangs in Wine's process exit after its summary. Debian's
# own interpreter by its path: a version manager's shim in PATH costs a second per program.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/support/exit_watchdog.py
  ${CMAKE_BINARY_DIR}/wine-run)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)

add_library(orvalo_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_link_libraries(orvalo_test_main PUBLIC GTest::gtest)

# orvalo_add_test(name [SERVERS | VENDOR_SERVER] SOURCES ... LIBS ... [RESOURCE_LOCK lock]
#                 [PROPERTIES prop value ...]): one test executable; its cases become CTest tests,
# listed when CTest runs (the Wine server is up then, not during the build).
# SERVERS: the cases use the loopback download servers (tests/support/test_servers.h).
# VENDOR_SERVER: the same, and also https://localhost/ on port 443 (fixture vendor_server, which
# itself requires test_servers; the port is locked as port_443, so no other lock can be given:
# the discovered tests take one value per property).
# RESOURCE_LOCK keeps cases that touch the same shared state (a registry key of the prefix) from
# running at the same time under ctest -j; PROPERTIES are added to every case.
function(orvalo_add_test name)
  cmake_parse_arguments(T "SERVERS;VENDOR_SERVER" "RESOURCE_LOCK" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} orvalo_test_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  # Empty values would vanish from the property list and shift its pairs: add only what is set.
  set(properties TIMEOUT 120 ${T_PROPERTIES})
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  if(T_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_VENDOR_SERVER)
    if(T_RESOURCE_LOCK)
      message(FATAL_ERROR "${name}: VENDOR_SERVER already takes the lock port_443")
    endif()
    target_link_libraries(${name} PRIVATE orvalo_test_servers)
    list(APPEND properties FIXTURES_REQUIRED vendor_server RESOURCE_LOCK port_443)
  elseif(T_SERVERS)
    target_link_libraries(${name} PRIVATE orvalo_test_servers)
    list(APPEND properties FIXTURES_REQUIRED test_servers)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

# orvalo_lock_discovered_tests(target regex lock...): the discovered cases of target whose names
# match regex hold all the locks given. Discovered tests get their properties as one flat list,
# which cannot carry a list of locks: an include file that CTest reads after the discovered tests
# sets them. A later call overrides an earlier one for the cases both match.
function(orvalo_lock_discovered_tests target regex)
  string(MD5 tag "${target}${regex}")
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_locks_${tag}.cmake)
  # The regular expression goes into a quoted argument of the file: its backslashes are doubled.
  string(REPLACE "\\" "\\\\" pattern "${regex}")
  file(WRITE ${file} "foreach(test IN LISTS ${target}_TESTS)\n"
                     "  if(test MATCHES \"${pattern}\")\n"
                     "    set_tests_properties(\${test} PROPERTIES RESOURCE_LOCK \"${ARGN}\")\n"
                     "  endif()\n"
                     "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
