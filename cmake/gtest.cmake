# GoogleTest: the installed package natively; for the Windows cross-build the
# sources Debian ships under /usr/src/googletest are built with the project.
if(CMAKE_CROSSCOMPILING OR MF_GTEST_FROM_SOURCE)
  set(MF_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${MF_GTEST_SRC} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# mf_add_test(name [THREADS] SOURCES... LIBS... [ENVIRONMENT VAR=value]): one test
# binary, discovered by CTest; its tests run with the environment variable given (one:
# the discovery passes the properties on as one flat list).
# THREADS marks a binary with tests that start threads: its tests get the label
# "threads", and they are the only tests of the ThreadSanitizer build.
function(mf_add_test name)
  cmake_parse_arguments(T "THREADS" "ENVIRONMENT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} mf_testsupport GTest::gtest_main)
  if(MF_TSAN AND NOT T_THREADS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
    return()
  endif()
  set(labels "")
  if(T_THREADS)
    set(labels threads)
  endif()
  # The discovery hands the properties on as one flat list, so an empty label cannot
  # stand before another property.
  if(T_ENVIRONMENT AND labels)
    set(properties LABELS ${labels} ENVIRONMENT ${T_ENVIRONMENT})
  elseif(T_ENVIRONMENT)
    set(properties ENVIRONMENT ${T_ENVIRONMENT})
  else()
    set(properties LABELS "${labels}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES "${properties}")
endfunction()
