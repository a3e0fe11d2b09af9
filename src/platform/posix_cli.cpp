// Tagvert: operating-system services of the command line on POSIX systems.
// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/cli_services.h"

namespace tagvert {
namespace {

std::string ErrnoPhrase(int error) {
  switch (error) {
    case ENOENT:
      return "the file does not exist";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "it is a folder";
    case ENOSPC:
      return "the disk is full";
    case EROFS:
      return "the file system is read-only";
    case ENOTDIR:
      return "a part of the path is not a folder";
    default:
      return std::strerror(error);
  }
}

std::atomic<void (*)()> g_interruptHandler{nullptr};
std::atomic<int> g_interrupts{0};

extern "C" void OnSigint(int) {
  if (g_interrupts.fetch_add(1) > 0) std::_Exit(130);
  if (auto handler = g_interruptHandler.load()) handler();
}

}  // namespace

bool PlatformStderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

std::string PlatformCheckReadable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrnoPhrase(errno);
  if (S_ISDIR(st.st_mode)) return ErrnoPhrase(EISDIR);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrnoPhrase(errno);
  ::close(fd);
  return {};
}

std::string PlatformCreateTempBeside(const std::string& target, std::string& error) {
  const auto slash = target.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = folder + "." + base + ".tagvert-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    // The output itself need not exist: a missing entry is its folder.
    error = errno == ENOENT ? "its folder does not exist" : ErrnoPhrase(errno);
    return {};
  }
  // mkstemp creates the file private to the user; give it the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return pattern;
}

bool PlatformReplaceFile(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  error = ErrnoPhrase(errno);
  return false;
}

void PlatformRemoveFile(const std::string& path) {
  ::unlink(path.c_str());
}

bool PlatformSameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void PlatformOnInterrupt(void (*handler)()) {
  g_interruptHandler.store(handler);
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

unsigned long long PlatformPeakMemory() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<unsigned long long>(usage.ru_maxrss) * 1024ULL;
}

}  // namespace tagvert
