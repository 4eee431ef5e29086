# SPDX-License-Identifier: Apache-2.0
# The terminal's benchmarks: what one accepted tag costs next to the bare durable writes it
# cannot avoid, and how much CPU a terminal that nobody taps burns over a service period.
# Never registered with CTest: the figures are for reading, not for passing or failing.
if(NOT TARGET benchmark::benchmark)
  find_package(benchmark REQUIRED)
endif()

# libfaketime runs the idle terminal's three-minute period in a few seconds.
find_file(FAKETIME_LIB libfaketime.so.1
  PATHS /usr/lib/x86_64-linux-gnu/faketime /usr/lib/aarch64-linux-gnu/faketime /usr/lib/faketime
  NO_DEFAULT_PATH)
if(NOT FAKETIME_LIB)
  message(WARNING "libfaketime is missing: terminal_bench will skip the idle terminal")
  set(terminal_bench_faketime "")
else()
  set(terminal_bench_faketime "${FAKETIME_LIB}")
endif()

add_executable(terminal_bench
  BenchSyncs.cpp BenchTerminal.cpp TerminalBench.cpp TerminalIdleBench.cpp TerminalStopBench.cpp
  TerminalTagBench.cpp)
# The real clock: a tag stamps the card with the time of day, as in service.
target_link_libraries(terminal_bench PRIVATE terminal_lib system_clock direct_changes benchmark::benchmark)
target_compile_definitions(terminal_bench PRIVATE
  TERMINAL_BIN="$<TARGET_FILE:terminal>"
  FAKETIME_LIB="${terminal_bench_faketime}")
add_dependencies(terminal_bench terminal)
