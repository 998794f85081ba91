# One module is one folder of src/: a static library sm_<name> from its sources
# (plus its platform backend folder, win32/ or posix/) and one test executable
# <name>_test from its *_test.cpp files. One executable per module keeps the
# number of Wine starts small.

function(selfmount_product_target target)
  target_compile_options(${target} PRIVATE ${SELFMOUNT_WARNINGS} ${SELFMOUNT_PRODUCT_OPTIONS})
endfunction()

# selfmount_module(<name> [THREADED] [DEPENDS <libs>...] [TEST_DEPENDS <libs>...])
#   THREADED: its tests also run under ThreadSanitizer (the tsan build).
function(selfmount_module name)
  cmake_parse_arguments(M "THREADED" "" "DEPENDS;TEST_DEPENDS" ${ARGN})
  if(WIN32)
    set(backend win32)
  else()
    set(backend posix)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS *.cpp *.c ${backend}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  file(GLOB tests CONFIGURE_DEPENDS *_test.cpp ${backend}/*_test.cpp)

  if(sources)
    add_library(sm_${name} STATIC EXCLUDE_FROM_ALL ${sources})
    target_include_directories(sm_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(sm_${name} PUBLIC ${M_DEPENDS})
    selfmount_product_target(sm_${name})
  else()
    add_library(sm_${name} INTERFACE)
    target_include_directories(sm_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(sm_${name} INTERFACE ${M_DEPENDS})
  endif()

  if(NOT tests)
    return()
  endif()
  if(SELFMOUNT_MODE STREQUAL "all" OR (SELFMOUNT_MODE STREQUAL "tsan" AND M_THREADED))
    selfmount_test_executable(${name}_test SOURCES ${tests} LIBS sm_${name} ${M_TEST_DEPENDS})
  endif()
endfunction()

# selfmount_test_executable(<target> SOURCES <files>... LIBS <libs>...)
#   A GoogleTest program registered as one CTest test of the same name.
function(selfmount_test_executable target)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} sm_test_support GTest::gtest)
  target_compile_options(${target} PRIVATE ${SELFMOUNT_WARNINGS})
  add_test(NAME ${target} COMMAND ${target})
endfunction()

# selfmount_fuzz_target(<name> LIBS <libs>...)
#   tests/fuzz/<name>_fuzz.cpp, run briefly as a CTest test over the seeds in
#   tests/fuzz/corpus/<name>/ (when present); found crashes fail the test.
function(selfmount_fuzz_target name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name}_fuzz ${name}_fuzz.cpp)
  target_link_libraries(${name}_fuzz PRIVATE ${F_LIBS})
  target_compile_options(${name}_fuzz PRIVATE ${SELFMOUNT_WARNINGS})
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  add_test(NAME ${name}_fuzz
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run-fuzz $<TARGET_FILE:${name}_fuzz> ${corpus} ${seeds}
            ${SELFMOUNT_FUZZ_SECONDS})
endfunction()
