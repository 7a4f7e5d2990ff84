# kelvo_test_support: what the image library's tests share (the IPException
# expectation). Made once, when the first imaging test asks for it.
function(kelvo_test_support)
  if(NOT TARGET kelvo_test_support)
    add_library(kelvo_test_support STATIC "${PROJECT_SOURCE_DIR}/tests/support/ExpectIPException.cpp")
    target_link_libraries(kelvo_test_support PUBLIC kelvo_imaging_static GTest::gtest)
    target_include_directories(kelvo_test_support PUBLIC "${PROJECT_SOURCE_DIR}")
  endif()
endfunction()

# kelvo_add_test(name SOURCES ... [LIBS ...] [NOSIMD_TOO])
#
# A GoogleTest program registered with CTest. NOSIMD_TOO registers the same
# tests a second time with the SIMD paths switched off (KELVO_NO_SIMD=1), so
# both runs must give the same bytes.
function(kelvo_add_test name)
  cmake_parse_arguments(ARG "NOSIMD_TOO" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} "${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/include")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                       PROPERTIES LABELS "unit;${ARG_LABELS}" DISCOVERY_TIMEOUT 60)
  if(ARG_NOSIMD_TOO)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}.nosimd."
                         PROPERTIES ENVIRONMENT "KELVO_NO_SIMD=1" LABELS "unit;nosimd;${ARG_LABELS}"
                         DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
