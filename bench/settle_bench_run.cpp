#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "settle_bench.h"

namespace {

// Keeps the first |count| processors of this process's set (all when |count| is 0 or more).
void ConfineTo(int count) {
  cpu_set_t set;
  if (count <= 0 || sched_getaffinity(0, sizeof set, &set) != 0) return;
  for (std::size_t cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &set)) continue;
    if (count > 0) {
      --count;
    } else {
      CPU_CLR(cpu, &set);
    }
  }
  sched_setaffinity(0, sizeof set, &set);
}

}  // namespace

ChildRun RunChild(const std::vector<std::string>& argv, const std::string& workdir,
                  const std::string& out_path, int processors) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_WRONLY);
    if (out < 0 || null < 0 || dup2(out, 1) < 0 || dup2(null, 2) < 0 || chdir(workdir.c_str())) {
      _exit(126);
    }
    ConfineTo(processors);
    execvp(args[0], args.data());
    _exit(127);
  }
  int raw = 0;
  rusage usage{};
  pid_t done = 0;
  do {
    done = wait4(pid, &raw, 0, &usage);
  } while (done < 0 && errno == EINTR);
  ChildRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peak_rss_kib = usage.ru_maxrss;
  run.status = done == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}
