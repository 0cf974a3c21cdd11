# Helpers that give every target of the project the same shape:
#   tabulo_library(name SOURCES ... LIBS ...)        static library, include root is the repository
#   tabulo_test(name SOURCES ... LIBS ...)           GoogleTest program, each test a CTest entry
#   tabulo_fuzz(name SOURCES ... LIBS ... CORPUS d)  libFuzzer program with clang and TABULO_FUZZ,
#                                                    otherwise a corpus-replay program run by CTest
#   tabulo_bench(name SOURCES ... LIBS ...)          Google Benchmark program
include(GoogleTest)

if(TABULO_SANITIZE)
  string(REPLACE ";" "," _tabulo_san "${TABULO_SANITIZE}")
  add_compile_options(-fsanitize=${_tabulo_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_tabulo_san})
endif()
if(TABULO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TABULO_FUZZ needs clang (use the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

set(TABULO_WARNING_FLAGS -Wall -Wextra -Wpedantic)
# clang checks the locking annotations (ABSL_GUARDED_BY and the rest) on every access.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND TABULO_WARNING_FLAGS -Wthread-safety)
endif()
if(TABULO_WERROR)
  list(APPEND TABULO_WARNING_FLAGS -Werror)
endif()

function(tabulo_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TABULO_WARNING_FLAGS}>)
endfunction()

function(tabulo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  if(TABULO_STORE_BUILD)
    target_compile_definitions(${name} PUBLIC TABULO_STORE_BUILD=1)
  endif()
  tabulo_warnings(${name})
endfunction()

function(tabulo_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    TABULO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TABULO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  tabulo_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "TABULO_TEST_TMP=${PROJECT_BINARY_DIR}/test-tmp")
endfunction()

function(tabulo_fuzz name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(TABULO_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cc)
    if(ARG_CORPUS)
      add_test(NAME fuzz_replay.${name} COMMAND ${name} ${ARG_CORPUS})
    endif()
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Threads::Threads)
  tabulo_warnings(${name})
endfunction()

function(tabulo_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/bench)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE TABULO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  tabulo_warnings(${name})
endfunction()
