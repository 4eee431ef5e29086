# SPDX-License-Identifier: Apache-2.0
# The settlement's tests: the allocation, the log reading, the report and the queries of sql/
# (on SQLite and on a throw-away PostgreSQL server) in this process, and the real program.
fare_test(settle_tests SOURCES SettleTest.cpp SettleProgramTest.cpp LIBS settle_lib)
target_compile_definitions(settle_tests PRIVATE SQL_DIR="${PROJECT_SOURCE_DIR}/sql")
