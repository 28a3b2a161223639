# GoogleTest is built from Debian's googletest sources, so that the native,
# sanitizer and mingw builds all link a copy made with their own flags.
set(VEMO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VEMO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Directory holding the conformance movies and their expected outputs.
if(EXISTS "${PROJECT_SOURCE_DIR}/../shared/conformance/FORMATS.md")
  set(_conformance "${PROJECT_SOURCE_DIR}/../shared/conformance")
else()
  set(_conformance "/work/shared/conformance")
endif()
set(VEMO_CONFORMANCE_DIR "${_conformance}" CACHE PATH "Conformance movies")

# vemo_test(name SOURCES a.cpp b.cpp LIBS lib...)
function(vemo_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vemo_testutil GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # One ctest entry per executable: listing tests through wine at build
    # time would start wine for every executable twice.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# GoogleTest's own sources are not ours to keep warning-free.
foreach(t gtest gtest_main gmock gmock_main)
  target_compile_options(${t} PRIVATE -w)
endforeach()
