# SPDX-License-Identifier: Apache-2.0
# The terminal's benchmarks: what one accepted tag costs next to the bare durable writes it
# cannot avoid, and how much CPU a terminal that nobody taps burns over a service period.
# Never registered with CTest: the figures are for reading, not for passing or failing.
if(NOT TARGET benchmark::benchmark)
  find_package(benchmark REQUIRED)
endif()

add_executable(terminal_bench
  BenchSyncs.cpp TerminalBench.cpp TerminalIdleBench.cpp TerminalStopBench.cpp
  TerminalTagBench.cpp)
# The real clock: a tag stamps the card with the time of day, as in service.
target_link_libraries(terminal_bench PRIVATE terminal_lib harness system_clock direct_changes
  benchmark::benchmark)
target_compile_definitions(terminal_bench PRIVATE TERMINAL_BIN="$<TARGET_FILE:terminal>")
add_dependencies(terminal_bench terminal)
