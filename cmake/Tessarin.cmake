# Helpers shared by every folder of the project.

# Warnings as errors for our own code only (third-party headers come in as system includes).
function(tessarin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-error=deprecated-declarations)
endfunction()

# tessarin_library(NAME SOURCES... LINK libs...): one library target per folder.
function(tessarin_library name)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;LINK" ${ARGN})
  if(ARG_SHARED)
    add_library(${name} SHARED ${ARG_SOURCES})
  else()
    add_library(${name} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
  tessarin_warnings(${name})
endfunction()

# tessarin_test(NAME SOURCES... LINK libs... [QT]): a GoogleTest (or, with QT, a Qt Test) target
# registered with CTest. Widget tests run on the offscreen platform.
function(tessarin_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  tessarin_warnings(${name})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TESSARIN_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    TESSARIN_BIN_DIR="${TESSARIN_BIN_DIR}")
  if(ARG_QT)
    target_link_libraries(${name} PRIVATE ${ARG_LINK} Qt6::Test)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest GTest::gmock testsupport)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8"
    TIMEOUT 600)
endfunction()

# tessarin_bench(NAME SOURCES... LINK libs...): a Google Benchmark program, run by hand.
function(tessarin_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  tessarin_warnings(${name})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/bench/support)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} platform Qt6::Widgets benchmark::benchmark)
endfunction()
