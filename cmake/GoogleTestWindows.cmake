# GoogleTest built for Windows from Debian's /usr/src/googletest, and the way Wine tests are declared.
set(ORVEL_GTEST_SRC "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory("${ORVEL_GTEST_SRC}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)

# One ctest test per executable: Wine starts once for the whole group. Every Wine test shares the run's
# prefix (its registry, service manager and sandbox installation), so they never run at the same time.
function(orvel_wine_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  orvel_warnings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT ${ARG_TIMEOUT} LABELS wine)
endfunction()
