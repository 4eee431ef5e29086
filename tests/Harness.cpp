// SPDX-License-Identifier: Apache-2.0
#include "Harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "LogFile.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

DataDir::DataDir() : root_((fs::temp_directory_path() / "farecard-XXXXXX").string()) {
  if (mkdtemp(root_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  fs::create_directories(work_ = root_ + "/a/b");
  old_cwd_ = fs::current_path().string();
  fs::current_path(work_);
}

DataDir::~DataDir() {
  std::error_code ignored;
  fs::current_path(old_cwd_, ignored);
  fs::remove_all(root_, ignored);
}

std::string DataDir::Path(std::string_view name) const { return root_ + "/" + std::string(name); }

std::string DataDir::Read(std::string_view name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return in ? bytes.str() : "<missing>";
}

void DataDir::Write(std::string_view name, std::string_view bytes) const {
  std::ofstream(Path(name), std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool DataDir::Exists(std::string_view name) const { return fs::exists(Path(name)); }

void ClockFile::Set(std::int64_t seconds) const {
  const auto when = static_cast<std::time_t>(seconds);
  std::tm utc{};
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S\n", gmtime_r(&when, &utc));
  std::ofstream(path_ + ".new", std::ios::trunc) << text;  // renamed: never read half written
  std::rename((path_ + ".new").c_str(), path_.c_str());
}

Process::Process(const std::string& program, const ProcessOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  std::vector<std::string> env = {"TZ=UTC", "PATH=/usr/bin:/bin", "LC_ALL=C",
                                  "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0",
                                  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"};
  if (options.clock != nullptr)
    env.insert(env.end(), {std::string("LD_PRELOAD=") + FAKETIME_LIB,
                           "FAKETIME_TIMESTAMP_FILE=" + options.clock->path(),
                           "FAKETIME_NO_CACHE=1", "DONT_FAKE_MONOTONIC=1"});
  env.insert(env.end(), options.env.begin(), options.env.end());
  std::vector<std::string> args = options.wrapper;
  args.push_back(program);
  std::vector<char*> envp(env.size() + 1), argv(args.size() + 1);
  std::transform(env.begin(), env.end(), envp.begin(), [](auto& e) { return e.data(); });
  std::transform(args.begin(), args.end(), argv.begin(), [](auto& a) { return a.data(); });
  if ((pid_ = fork()) < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
    setpgid(0, 0);  // its own group, so a test can signal it as a console would
    if (chdir(options.workdir.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  for (int fd : {in[0], out[1], err[1]}) close(fd);
  std::tie(in_, out_fd_, err_fd_) = std::tie(in[1], out[0], err[0]);
  signal(SIGPIPE, SIG_IGN);
}

// The group, and the process reaped.
static void KillGroup(pid_t pid) {
  kill(-pid, SIGKILL), kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
}

Process::~Process() {
  if (status_ == -1 && pid_ > 0) KillGroup(pid_);
  for (int fd : {in_, out_fd_, err_fd_}) close(fd);  // -1 when closed: EBADF
}

void Process::Write(std::string_view text) {
  while (!text.empty() && in_ >= 0) {
    const ssize_t n = write(in_, text.data(), text.size());
    if (n <= 0 && errno != EINTR) return;  // it stopped reading; the test sees that in its output
    text.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  }
}

void Process::CloseInput() { close(std::exchange(in_, -1)); }

void Process::CloseOutput() { close(std::exchange(out_fd_, -1)); }

bool Process::Pump() {
  pollfd fds[2] = {{stalled_ ? -1 : out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) return false;
  if (poll(fds, 2, 20) <= 0) return true;
  for (auto [fd, text, ready] :
       {std::tuple{&out_fd_, &out_, fds[0].revents}, std::tuple{&err_fd_, &err_, fds[1].revents}}) {
    char buffer[65536];
    const ssize_t n = *fd < 0 || ready == 0 ? -2 : read(*fd, buffer, sizeof buffer);
    if (n > 0) text->append(buffer, static_cast<std::size_t>(n));
    if (n == 0 || (n == -1 && errno != EINTR)) close(std::exchange(*fd, -1));
  }
  return true;
}

bool Process::WaitForOutput(std::string_view text, std::size_t from,
                            std::chrono::milliseconds timeout, std::size_t count) {
  for (const auto deadline = Clock::now() + timeout;;) {
    if (from <= out_.size() && CountOf(std::string_view(out_).substr(from), text) >= count)
      return true;
    if (Clock::now() >= deadline || !Pump()) return false;
  }
}

void Process::Signal(int sig) { kill(pid_, sig); }

int Process::Wait(std::chrono::milliseconds timeout) {
  int raw = 0;
  for (const auto deadline = Clock::now() + timeout; status_ == -1;) {
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      if (stalled_) CloseOutput();  // nobody reads it: there is nothing to drain
      // What it printed last is still in the pipes; a process it left may hold them open.
      const auto until = Clock::now() + std::chrono::seconds(2);
      while (Pump() && Clock::now() < until) continue;
      return status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }
    if (Pump(), Clock::now() >= deadline) return KillGroup(pid_), -1;
  }
  return status_;
}

RunResult RunProgram(const std::string& program, std::string_view input,
                     const ProcessOptions& options) {
  Process process(program, options);
  process.Write(input);
  process.CloseInput();
  const int status = process.Wait();
  return {process.out(), process.err(), status};
}

Station::Station() {
  clock.Set(kStart);
  dir.Write("usercard.txt", kCardLine);
}

Tally CheckLog(std::string_view log, std::int32_t term_id) {
  Tally check;
  for (std::size_t start = 0; start < log.size() && check.fault.empty();) {
    const std::size_t end = std::min(log.find('\n', start), log.size() - 1);
    const std::string line(log.substr(start, end + 1 - start));
    start = end + 1;
    // Byte for byte what the terminal writes for the entry read from it.
    LogEntry e{};
    const bool read =
        std::sscanf(line.c_str(), "%d %d %d %d %d %c %d %c %c %" SCNd64 " %" SCNd64, &e.termId,
                    &e.baseFee, &e.missedOffFee, &e.additionalFee, &e.cardId, &e.transfer,
                    &e.prevFare, &e.prevVehicle, &e.inOut, &e.tagTime, &e.stamp) == 11;
    if (read && FormatLogLine(e) == line && e.termId == term_id && e.cardId == 42) {
      ++check.tags;
      check.charges += std::int64_t{e.baseFee} + e.missedOffFee + e.additionalFee;
    } else {
      check.fault = "line " + std::to_string(check.tags + 1) + " \"" + line.substr(0, 120) + "\"";
    }
  }
  return check;
}

Tally ShownCharges(std::string_view out) {
  const std::string block = std::string(kChargedLine) + "\n\nTotal fee : ";
  Tally shown;
  for (auto at = out.find(block); at != std::string_view::npos; at = out.find(block, at + 1)) {
    long long fee = 0;
    char dot = 0;
    const std::string tail(out.substr(at + block.size(), 24));
    if (std::sscanf(tail.c_str(), "%lld%c", &fee, &dot) == 2 && dot == '.')
      ++shown.tags, shown.charges += fee;
  }
  return shown;
}

std::optional<Card> WholeCard(std::string_view text) {
  const auto card = ParseCardLine(text);
  return card && FormatCardLine(*card) == text ? card : std::nullopt;
}

std::size_t CountOf(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string LogNameOf(int choice) {
  return std::string(4, static_cast<char>('0' + choice)) + ".txt";
}

std::string ProcFile(pid_t pid, const std::string& name) {
  std::ostringstream text;
  text << std::ifstream("/proc/" + (pid > 0 ? std::to_string(pid) + "/" : "") + name).rdbuf();
  return text.str();
}

pid_t FirstChildOf(pid_t pid) {
  std::istringstream in(ProcFile(pid, "task/" + std::to_string(pid) + "/children"));
  pid_t child = -1;
  return in >> child ? child : -1;
}

char StateOf(pid_t pid) {
  // "pid (name) state ...": the name may hold blanks and parentheses; the state follows the last.
  const std::string stat = ProcFile(pid, "stat");
  const auto close = stat.rfind(") ");
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

bool LockIsHeld(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // drops the lock if this probe took it
  return held;
}

bool LockIsAwaited(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  std::istringstream locks(ProcFile(0, "locks"));
  for (std::string line; std::getline(locks, line);)
    if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos) return true;
  return false;
}

bool SignalIsPending(pid_t pid, int sig) {
  const std::string status = ProcFile(pid, "status");
  for (const char* field : {"\nSigPnd:", "\nShdPnd:"}) {
    const auto at = status.find(field);
    if (at != std::string::npos && std::stoull(status.substr(at + 8), nullptr, 16) >> (sig - 1) & 1)
      return true;
  }
  return false;
}

bool GroupIsAlive(pid_t group) { return kill(-group, 0) == 0; }
