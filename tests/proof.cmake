# SPDX-License-Identifier: Apache-2.0
fare_test(fuzz_regression_tests
  SOURCES
    FuzzRegressionTest.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/CardLineCheck.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/LogScanCheck.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/MenuInputCheck.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/Reference.cpp
  LIBS settle_lib)
target_include_directories(fuzz_regression_tests PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
target_compile_definitions(fuzz_regression_tests PRIVATE FUZZ_DIR="${CMAKE_SOURCE_DIR}/fuzz")
# Proofs against the real programs: stops at random moments, terminals side by side on one
# card, hostile console input, and data directories other users can write to.
fare_test(proof_tests
  SOURCES KillStormTest.cpp ConcurrentTerminalsTest.cpp HostileInputTest.cpp SharedDirectoryTest.cpp
  LIBS common)
