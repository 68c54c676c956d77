# The Windows test program: the library layers' tests and the platform's, run under Wine.
#
# GoogleTest is built for the target from the sources libgtest-dev ships. Left out are the tests
# that run the built programs (harnix, harnix-util) as a script would or use their scratch
# directory (support/run_directory.h), and those that need POSIX calls (resource limits,
# /dev/full, permissions, symbolic links, memory streams): the Windows check
# (tools/windows-check.sh) runs harnix.exe end to end instead.
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -w)  # not our code: its warnings are not our errors
endforeach()

file(GLOB_RECURSE HARNIX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
file(GLOB_RECURSE HARNIX_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reference/*.cpp)
list(FILTER HARNIX_TEST_SOURCES EXCLUDE REGEX "/tests/tools/")
# Whatever uses the scratch directory or runs a program is found by its include, so that a new
# test of that kind cannot break this build.
foreach(source ${HARNIX_TEST_SOURCES})
  file(STRINGS ${source} runs_programs REGEX "support/(run_directory|run_program|cli_case)\\.h")
  if(runs_programs)
    list(REMOVE_ITEM HARNIX_TEST_SOURCES ${source})
  endif()
endforeach()
foreach(linux_only
    reliability/input_names reliability/write_failure reliability/load reliability/memory_bound
    reliability/output_targets reliability/interrupt cli/run_record
    averaging/averaging_run averaging/averaging_run_identity averaging/averaging_run_report
    averaging/run_result averaging/rejection averaging/input_report averaging/threads
    averaging/combinations averaging/median
    cli/regular_file cli/prompt cli/list_file cli/command_line
    datafile/data_reader datafile/data_writer)
  list(REMOVE_ITEM HARNIX_TEST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${linux_only}_test.cpp)
endforeach()
list(REMOVE_ITEM HARNIX_TEST_SUPPORT ${CMAKE_CURRENT_SOURCE_DIR}/support/run_program.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/cli_case.cpp)

add_executable(harnix_tests ${HARNIX_TEST_SOURCES} ${HARNIX_TEST_SUPPORT})
target_include_directories(harnix_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(harnix_tests PRIVATE harnix_cli GTest::gtest GTest::gmock GTest::gtest_main)
# One test: a Wine start per test case would take longer than the cases themselves.
add_test(NAME harnix_tests COMMAND harnix_tests --gtest_brief=1)
