// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

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

// Starts |program| in |workdir| with standard input and output from |in| and to |out| (-1:
// /dev/null) and standard error discarded.
pid_t Start(const std::string& program, const std::string& workdir, int in, int out) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  if (null < 0 || dup2(in < 0 ? null : in, 0) < 0 || dup2(out < 0 ? null : out, 1) < 0 ||
      dup2(null, 2) < 0 || chdir(workdir.c_str()) != 0) {
    _exit(126);
  }
  execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

// Whether process |pid| has a terminal log open.
bool HasLogOpen(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return false;
  bool open = false;
  for (dirent* fd = readdir(fds); fd != nullptr && !open; fd = readdir(fds)) {
    char target[4096];
    const ssize_t n = readlink((dir + "/" + fd->d_name).c_str(), target, sizeof target - 1);
    open = n > 0 && std::string(target, static_cast<std::size_t>(n)).ends_with("66.txt");
  }
  closedir(fds);
  return open;
}

void Reap(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

double TerminalStart(const std::string& terminal, const std::string& settle,
                     const std::string& workdir) {
  const pid_t settling = settle.empty() ? -1 : Start(settle, workdir, -1, -1);
  while (settling > 0 && !HasLogOpen(settling)) {
    if (waitpid(settling, nullptr, WNOHANG) == settling) return -1;
  }
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return -1;
  const auto start = std::chrono::steady_clock::now();
  const pid_t serving = Start(terminal, workdir, in[0], out[1]);
  close(in[0]);
  close(out[1]);
  std::string shown;
  bool menu = false;
  if (write(in[1], "1\n", 2) == 2) {
    char piece[4096];
    ssize_t n = 0;
    while (!menu && (n = read(out[0], piece, sizeof piece)) > 0) {
      shown.append(piece, static_cast<std::size_t>(n));
      menu = shown.find("| 1.Get on  |") != std::string::npos;
    }
  }
  const double ms =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e3;
  const bool beside = settling < 0 || waitpid(settling, nullptr, WNOHANG) == 0;
  kill(serving, SIGINT);
  close(in[1]);
  close(out[0]);
  Reap(serving);
  if (settling > 0) Reap(settling);
  return beside && menu ? ms : -1;
}

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
