// SPDX-License-Identifier: Apache-2.0
#include "Ledger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <fstream>
#include <vector>

#include "LogEntry.h"
#include "LogFile.h"

namespace {

// The eleven blank-separated fields of a log line, or nothing when the blanks are not single.
std::optional<std::vector<std::string_view>> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t blank = line.find(' ', start);
    const std::string_view field = line.substr(start, blank - start);
    if (field.empty()) return std::nullopt;
    fields.push_back(field);
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  if (fields.size() != 11) return std::nullopt;
  return fields;
}

template <typename T>
bool Number(std::string_view text, T& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool Letter(std::string_view text, std::string_view allowed, char& out) {
  if (text.size() != 1 || allowed.find(text[0]) == std::string_view::npos) return false;
  out = text[0];
  return true;
}

// The entry of one log line (without its line end), when every field is whole and the line is
// byte for byte what the terminal writes for that entry.
std::optional<LogEntry> ParseLogLine(std::string_view line) {
  const auto fields = SplitFields(line);
  if (!fields) return std::nullopt;
  const auto& f = *fields;
  LogEntry entry;
  const bool ok = Number(f[0], entry.termId) && Number(f[1], entry.baseFee) &&
                  Number(f[2], entry.missedOffFee) && Number(f[3], entry.additionalFee) &&
                  Number(f[4], entry.cardId) && Letter(f[5], "TF", entry.transfer) &&
                  Number(f[6], entry.prevFare) && Letter(f[7], "BS", entry.prevVehicle) &&
                  Letter(f[8], "IO", entry.inOut) && Number(f[9], entry.tagTime) &&
                  Number(f[10], entry.stamp);
  if (!ok || FormatLogLine(entry) != std::string(line) + "\n") return std::nullopt;
  return entry;
}

}  // namespace

bool IsPossibleCharge(std::int64_t charge) {
  if (charge >= 0 && charge <= 700 && charge % 100 == 0) return true;
  return charge == 1050 || charge == 1050 + 200 || charge == 1050 + 600 || charge == 1050 + 700;
}

LogCheck CheckLog(std::string_view log, std::int32_t term_id, std::int32_t card_id) {
  LogCheck check;
  std::size_t start = 0;
  while (start < log.size() && check.fault.empty()) {
    const std::size_t end = log.find('\n', start);
    const std::string_view line = log.substr(start, end - start);
    const std::string where = "line " + std::to_string(check.lines + 1) + " \"" +
                              std::string(line.substr(0, 120)) + "\": ";
    if (end == std::string_view::npos) {
      check.fault = where + "torn (no line end)";
      break;
    }
    const auto entry = ParseLogLine(line);
    const std::int64_t charge =
        entry ? std::int64_t{entry->baseFee} + entry->missedOffFee + entry->additionalFee : -1;
    if (!entry) {
      check.fault = where + "not a whole log line";
    } else if (entry->termId != term_id || entry->cardId != card_id) {
      check.fault = where + "wrong terminal or card";
    } else if (!IsPossibleCharge(charge)) {
      check.fault = where + "impossible charge";
    } else {
      ++check.lines;
      check.charges += charge;
    }
    start = end + 1;
  }
  return check;
}

std::optional<Card> WholeCard(std::string_view text) {
  const auto card = ParseCardLine(text);
  if (!card || FormatCardLine(*card) != text) return std::nullopt;
  return card;
}

std::size_t CountOf(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

Shown ShownCharges(std::string_view out) {
  constexpr std::string_view kBlock = "Tagging is processed competely.\n\nTotal fee : ";
  Shown shown;
  for (auto at = out.find(kBlock); at != std::string_view::npos; at = out.find(kBlock, at + 1)) {
    std::int64_t fee = 0;
    const char* digits = out.data() + at + kBlock.size();
    const auto [end, ec] = std::from_chars(digits, out.data() + out.size(), fee);
    if (ec != std::errc() || end == out.data() + out.size() || *end != '.') continue;
    ++shown.tags;
    shown.charges += fee;
  }
  return shown;
}

std::string LogNameOf(int choice) {
  return std::string(4, static_cast<char>('0' + choice)) + ".txt";
}

pid_t FirstChildOf(pid_t pid) {
  const std::string path =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
  std::ifstream in(path);
  long child = -1;
  if (!(in >> child)) return -1;
  return static_cast<pid_t>(child);
}

bool IsRunning(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return false;
  // "pid (name) state ...": the name may hold blanks and parentheses, the state follows the last.
  const auto close = stat.rfind(") ");
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool LockIsHeld(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // drops the lock if this probe took it
  return held;
}

bool GroupIsAlive(pid_t group) { return kill(-group, 0) == 0; }

bool LockIsAwaited(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos) return true;
  }
  return false;
}

bool SignalIsPending(pid_t pid, int sig) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      if (mask >> (sig - 1) & 1) return true;
    }
  }
  return false;
}
