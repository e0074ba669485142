# GoogleTest built for Windows from Debian's /usr/src/googletest, and the way Wine tests are declared.
set(ORVEL_GTEST_SRC "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory("${ORVEL_GTEST_SRC}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)

# Every Wine test group runs in a Wine prefix of its own (scripts/wine-group.sh), copied from the run's
# template prefix, so groups run side by side (ctest -j). The template is laid out once per run by the
# wine_template test, which ctest runs before any group that needs it, even one picked out with -R.
set(ORVEL_WINE_TEMPLATE_FIXTURE wine_template)
add_test(NAME wine_template COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-template.sh")
set_tests_properties(wine_template PROPERTIES
  FIXTURES_SETUP ${ORVEL_WINE_TEMPLATE_FIXTURE} ENVIRONMENT "ORVEL_BUILD_DIR=${CMAKE_BINARY_DIR}"
  TIMEOUT 600 LABELS wine)

# orvel_wine_group(NAME COMMAND program [arguments...] [TIMEOUT seconds] [COST estimate]): one ctest test
# that runs the command (a .exe under Wine) in the group's own prefix, wineprefixes/<NAME> in the build tree.
# COST, the group's usual length in seconds, lets ctest start the longest groups first.
function(orvel_wine_group name)
  cmake_parse_arguments(ARG "" "TIMEOUT;COST" "COMMAND" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_test(NAME ${name} COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-group.sh" ${name} ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED ${ORVEL_WINE_TEMPLATE_FIXTURE} ENVIRONMENT "ORVEL_BUILD_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT ${ARG_TIMEOUT} LABELS wine)
  if(ARG_COST)
    set_tests_properties(${name} PROPERTIES COST ${ARG_COST})
  endif()
endfunction()

# orvel_wine_test(NAME SOURCES ... LIBS ... [TIMEOUT s] [COST s] [SPLIT group=filter ...]): one GoogleTest
# executable per group folder, so that Wine starts once per group. SPLIT runs some of its test suites as
# groups of their own (a GoogleTest filter each, such as "StopTest.*:DriverInstallTest.*"); NAME runs the
# rest, whatever suites the folder gains later.
function(orvel_wine_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;COST" "SOURCES;LIBS;SPLIT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  orvel_warnings(${name})
  set(rest "")
  foreach(split ${ARG_SPLIT})
    string(REPLACE "=" ";" split "${split}")
    list(GET split 0 group)
    list(GET split 1 filter)
    orvel_wine_group(${group} COMMAND "$<TARGET_FILE:${name}>" --gtest_color=no "--gtest_filter=${filter}"
      TIMEOUT ${ARG_TIMEOUT} COST ${ARG_COST})
    string(APPEND rest ":${filter}")
  endforeach()
  set(filter "")
  if(rest)
    string(SUBSTRING "${rest}" 1 -1 rest)
    set(filter "--gtest_filter=-${rest}")
  endif()
  orvel_wine_group(${name} COMMAND "$<TARGET_FILE:${name}>" --gtest_color=no ${filter}
    TIMEOUT ${ARG_TIMEOUT} COST ${ARG_COST})
endfunction()
