# SPDX-License-Identifier: Apache-2.0
# The settlement's tests: the allocation, the log reading, the report, the real program and the
# queries of sql/, which run on SQLite and on a throw-away PostgreSQL server.
fare_test(settle_tests
  SOURCES
    SettleAllocationTest.cpp
    SettleLogTest.cpp
    SettleProgramTest.cpp
    SettleReportTest.cpp
    SettleSqlTest.cpp
    SettleVolumeTest.cpp
  LIBS settle_lib)
target_compile_definitions(settle_tests PRIVATE SQL_DIR="${PROJECT_SOURCE_DIR}/sql")
