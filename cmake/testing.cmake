# corvane_test(NAME SOURCES src... [LIBS lib...])
#
# One GoogleTest executable registered with CTest. Tests of internal units
# link corvane_core; tests through the public interfaces link corvane (the
# module itself). Every test gets a registry store of its own, so no test
# touches the user's settings.
function(corvane_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE corvane_test_support ${ARG_LIBS} corvane_gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
    "CORVANE_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/${name}.registry"
    "CORVANE_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}/${name}.tmp")
  set_property(TEST ${name} PROPERTY TIMEOUT 300)
  if(COMMAND corvane_windows_test)
    corvane_windows_test(${name})
  endif()
endfunction()
