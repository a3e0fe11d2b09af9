// Tagvert: test seam: a preloaded library that makes the system's read() and write() fail on one
// chosen file, to try the command against faults the disk rarely gives on demand.
//   TAGVERT_FAULT_FILE   the calls on descriptors whose path contains this text are counted
//   TAGVERT_FAULT_READ   k: the k-th read fails with EIO
//   TAGVERT_FAULT_SHORT  k: the k-th read delivers at most one byte (a short read, not an error)
//   TAGVERT_FAULT_GROW   k: before the k-th read one byte is appended to the file (it changes
//                        while it is read)
//   TAGVERT_FAULT_WRITE  k: the k-th write stores half of its bytes; the write after it fails
//                        with TAGVERT_FAULT_ERRNO (a number, ENOSPC by default)
//   TAGVERT_FAULT_FSYNC  k: the k-th fsync() of a watched descriptor (a file or a folder) fails
//                        with EIO
//   TAGVERT_FAULT_SIGNAL k: the k-th fsync() of a watched descriptor first raises SIGINT in the
//                        process, as a Ctrl-C at that moment would (the fsync itself succeeds)
//   TAGVERT_FAULT_MKDIR  e: mkdir() of a path that contains TAGVERT_FAULT_FILE fails with errno
//                        e (a read-only file system, say)
// SPDX-License-Identifier: Apache-2.0
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using SyncFn = int (*)(int);

long Setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::strtol(value, nullptr, 10);
}

// Per thread: a batch's workers write while another thread syncs.
thread_local char g_path[4096];

// Whether the calls on `fd` are counted; its path is left in g_path.
bool Watched(int fd) {
  const char* text = std::getenv("TAGVERT_FAULT_FILE");
  if (text == nullptr || fd < 0) return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, g_path, sizeof g_path - 1);
  if (n <= 0) return false;
  g_path[n] = '\0';
  return std::strstr(g_path, text) != nullptr;
}

std::atomic<long> g_reads{0};
std::atomic<long> g_writes{0};
std::atomic<long> g_syncs{0};
std::atomic<bool> g_writeFailsNext{false};

}  // namespace

extern "C" int mkdir(const char* path, mode_t mode) {
  using MkdirFn = int (*)(const char*, mode_t);
  static const auto real = reinterpret_cast<MkdirFn>(::dlsym(RTLD_NEXT, "mkdir"));
  const char* text = std::getenv("TAGVERT_FAULT_FILE");
  if (text != nullptr && std::strstr(path, text) != nullptr &&
      Setting("TAGVERT_FAULT_MKDIR") != 0) {
    errno = static_cast<int>(Setting("TAGVERT_FAULT_MKDIR"));
    return -1;
  }
  return real(path, mode);
}

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  static const auto real = reinterpret_cast<ReadFn>(::dlsym(RTLD_NEXT, "read"));
  if (Watched(fd)) {
    const long reads = ++g_reads;
    if (reads == Setting("TAGVERT_FAULT_READ")) {
      errno = EIO;
      return -1;
    }
    if (reads == Setting("TAGVERT_FAULT_SHORT") && size > 1) size = 1;
    if (reads == Setting("TAGVERT_FAULT_GROW")) {
      static const auto realWrite = reinterpret_cast<WriteFn>(::dlsym(RTLD_NEXT, "write"));
      const int appender = ::open(g_path, O_WRONLY | O_APPEND);
      if (appender >= 0) {
        realWrite(appender, " ", 1);
        ::close(appender);
      }
    }
  }
  return real(fd, buffer, size);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = reinterpret_cast<WriteFn>(::dlsym(RTLD_NEXT, "write"));
  if (Watched(fd)) {
    const long writes = ++g_writes;
    if (g_writeFailsNext) {
      const long code = Setting("TAGVERT_FAULT_ERRNO");
      errno = code != 0 ? static_cast<int>(code) : ENOSPC;
      return -1;
    }
    if (writes == Setting("TAGVERT_FAULT_WRITE")) {
      g_writeFailsNext = true;
      if (size > 1) size /= 2;
    }
  }
  return real(fd, data, size);
}

extern "C" int fsync(int fd) {
  static const auto real = reinterpret_cast<SyncFn>(::dlsym(RTLD_NEXT, "fsync"));
  if (Watched(fd)) {
    const long syncs = ++g_syncs;
    if (syncs == Setting("TAGVERT_FAULT_SIGNAL")) std::raise(SIGINT);
    if (syncs == Setting("TAGVERT_FAULT_FSYNC")) {
      errno = EIO;
      return -1;
    }
  }
  return real(fd);
}
