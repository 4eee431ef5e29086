# SPDX-License-Identifier: Apache-2.0
fare_test(terminal_tests
  SOURCES CardTest.cpp PowerLossTest.cpp
  LIBS terminal_lib settle_lib)
