# SPDX-License-Identifier: Apache-2.0
# Proofs against the real programs: stops at random moments, terminals side by side on one
# card, hostile console input, and data directories other users can write to.
fare_test(proof_tests
  SOURCES ProgramsTest.cpp HostileInputTest.cpp SharedDirectoryTest.cpp
  LIBS common)
fare_test(kept_runs_tests SOURCES KeptRunsTest.cpp LIBS common)
