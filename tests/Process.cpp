// SPDX-License-Identifier: Apache-2.0
#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

void MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

std::vector<std::string> ChildEnvironment(const ProcessOptions& options) {
  std::vector<std::string> env = {"TZ=UTC", "PATH=/usr/bin:/bin", "LC_ALL=C"};
  // A sanitizer runtime must normally come first in the preload list; libfaketime is added
  // in front of it here, which is harmless for these programs.
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0");
  env.push_back("UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1");
  if (options.clock != nullptr) {
    env.push_back(std::string("LD_PRELOAD=") + FAKETIME_LIB);
    env.push_back("FAKETIME_TIMESTAMP_FILE=" + options.clock->path());
    env.push_back("FAKETIME_NO_CACHE=1");
    env.push_back("DONT_FAKE_MONOTONIC=1");
  }
  env.insert(env.end(), options.env.begin(), options.env.end());
  return env;
}

}  // namespace

ClockFile::ClockFile(std::string path) : path_(std::move(path)) {}

void ClockFile::Set(std::int64_t seconds) const {
  const auto when = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S\n", &utc);
  // Replaced by rename, so a program never reads half a time stamp.
  const std::string temp = path_ + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text;
  }
  std::rename(temp.c_str(), path_.c_str());
}

Process::Process(const std::string& program, const ProcessOptions& options) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  const std::vector<std::string> env = ChildEnvironment(options);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (const auto& arg : options.wrapper) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(const_cast<char*>(program.c_str()));
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    setpgid(0, 0);  // its own group, so a test can signal it like a console would
    if (chdir(options.workdir.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  signal(SIGPIPE, SIG_IGN);
}

Process::~Process() {
  if (status_ == -1 && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
}

void Process::Write(std::string_view text) {
  while (!text.empty() && in_ >= 0) {
    const ssize_t n = write(in_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the program stopped reading; the test sees that in its output
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Process::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void Process::CloseOutput() {
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
}

bool Process::Pump(int timeout_ms) {
  pollfd fds[2] = {{stalled_ ? -1 : out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  if (poll(fds, 2, timeout_ms) <= 0) return true;
  int* fd_of[2] = {&out_fd_, &err_fd_};
  std::string* text_of[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (*fd_of[i] < 0 || fds[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t n = read(*fd_of[i], buffer, sizeof buffer);
    if (n > 0) {
      text_of[i]->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(*fd_of[i]);
      *fd_of[i] = -1;
    }
  }
  return true;
}

bool Process::WaitForOutput(std::string_view text, std::size_t from,
                            std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    if (out_.size() >= from && out_.find(text, from) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    if (!Pump(20) && out_.find(text, from) == std::string::npos) return false;
  }
}

bool Process::WaitForCount(std::string_view text, std::size_t count,
                           std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t seen = 0;
  std::size_t from = 0;
  while (true) {
    for (auto at = out_.find(text, from); at != std::string::npos; at = out_.find(text, from)) {
      ++seen;
      from = at + text.size();
    }
    if (seen >= count) return true;
    if (Clock::now() >= deadline || !Pump(20)) return false;
  }
}

void Process::Signal(int sig) { kill(pid_, sig); }

int Process::Wait(std::chrono::milliseconds timeout) {
  if (status_ != -1) return status_;
  const auto deadline = Clock::now() + timeout;
  int raw = 0;
  while (true) {
    Pump(20);
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) break;
    if (Clock::now() >= deadline) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -2;
      return -1;
    }
  }
  // Whatever the program printed last is still in the pipes; a process it left behind may
  // hold them open, so drain for a bounded time only.
  const auto drain_until = Clock::now() + std::chrono::seconds(2);
  while (Pump(20) && Clock::now() < drain_until) {
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

RunResult RunProgram(const std::string& program, std::string_view input,
                     const ProcessOptions& options) {
  Process process(program, options);
  process.Write(input);
  process.CloseInput();
  RunResult result;
  result.status = process.Wait();
  result.out = process.out();
  result.err = process.err();
  return result;
}
