# The settlement's tests: the allocation, the log reading, the report and the real program.
fare_test(settle_tests
  SOURCES
    SettleAllocationTest.cpp
    SettleLogTest.cpp
    SettleProgramTest.cpp
    SettleReportTest.cpp
    SettleVolumeTest.cpp
  LIBS settle_lib)
