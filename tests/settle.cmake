# SPDX-License-Identifier: Apache-2.0
fare_test(settle_tests SOURCES SettleTest.cpp LIBS settle_lib)
target_compile_definitions(settle_tests PRIVATE SQL_DIR="${PROJECT_SOURCE_DIR}/sql")
