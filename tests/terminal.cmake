fare_test(terminal_tests
  SOURCES TerminalTag.cpp TerminalRoutingTest.cpp TerminalChargeTest.cpp
  LIBS terminal_lib)
