// Tagvert: operating-system services of the command line on POSIX systems.
// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <pthread.h>
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

#include "cli/platform/cli_output.h"
#include "cli/platform/cli_services.h"
#include "platform/posix_file_stream.h"

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
    case EIO:
      return "input/output error";
    case EFBIG:
      return "the output file is too large for this system's limit";
    case EPIPE:
      return "the reader of the output has gone";
    default: {
      // The system's words, in the voice of the command's own: no capital, no full stop.
      std::string phrase = std::strerror(error);
      if (!phrase.empty() && phrase[0] >= 'A' && phrase[0] <= 'Z')
        phrase[0] = static_cast<char>(phrase[0] - 'A' + 'a');
      if (!phrase.empty() && phrase.back() == '.') phrase.pop_back();
      return phrase;
    }
  }
}

// Throws the failure of a file service: the code and phrase of errno `error`, or `phrase`.
[[noreturn]] void ThrowFileError(int error, bool writing, std::string phrase = {}) {
  throw CFileError(detail::HResultFromErrno(error, writing),
                   phrase.empty() ? ErrnoPhrase(error) : std::move(phrase));
}

std::atomic<void (*)()> g_interruptHandler{nullptr};
std::atomic<int> g_requests{0};
std::atomic<int> g_stopSignal{0};

// The temporary outputs, visible to the signal handler.
detail::CTempOutputTable<char, 4096> g_temps;

// Removes every published temporary output; only async-signal-safe calls.
void RemovePublishedTemps() {
  g_temps.RemoveAll([](const char* path) { ::unlink(path); });
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Blocks the stop signals while a temporary file is created and published or renamed and
// withdrawn, so that the handler never sees a file that is not registered or a stale name.
class CStopSignalsBlocked {
 public:
  CStopSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kStopSignals)
      sigaddset(&set, number);
    ::pthread_sigmask(SIG_BLOCK, &set, &m_old);
  }
  ~CStopSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
  CStopSignalsBlocked(const CStopSignalsBlocked&) = delete;
  CStopSignalsBlocked& operator=(const CStopSignalsBlocked&) = delete;

 private:
  sigset_t m_old;
};

// Only async-signal-safe calls: the signal's default action, unblocked, then raised.
[[noreturn]] void EndBySignalNow(int number) {
  ::signal(number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(number);
  ::_exit(128 + number);
}

extern "C" void OnStopSignal(int number) {
  if (g_requests.fetch_add(1) > 0) {
    // A second request ends the process at once, but never leaves the temporary file behind.
    RemovePublishedTemps();
    EndBySignalNow(number);
  }
  g_stopSignal.store(number);
  if (auto handler = g_interruptHandler.load()) handler();
}

bool StopSignalled() {
  return g_stopSignal.load() != 0;
}

// The folder that holds `path`, with its final slash ("" for the current folder).
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Forces the folder's entries to the disk, so that a rename into it survives a crash. Returns 0
// or the errno of the failure; a file system that cannot sync a folder (EINVAL) has nothing more
// to do and counts as success.
int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fsync(fd) == 0 ? 0 : errno;
  if (error == EINVAL || error == ENOTSUP) error = 0;
  ::close(fd);
  return error;
}

// Lets the system drop the cached pages of the file that the output replaces: its content is
// about to go, and its pages, freed now rather than at the rename, serve the conversion's own
// memory and the new file's pages while the conversion runs. Pages not yet on the disk stay.
// The file itself is untouched: if the conversion fails, it is read from the disk as before.
void DropCachedPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Follows symbolic links (relative ones from their own folder) to the name finally written.
std::string FollowLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(n));
    const auto slash = path.find_last_of('/');
    if (link.front() != '/' && slash != std::string::npos) link.insert(0, path, 0, slash + 1);
    path = std::move(link);
  }
  return path;
}

}  // namespace

bool PlatformStdoutIsColourTerminal() {
  const char* noColour = std::getenv("NO_COLOR");
  return ::isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || *noColour == '\0');
}

std::string PlatformErrorCodePhrase(const std::error_code& error) {
  return ErrnoPhrase(error.value());
}

bool PlatformStderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

std::string PlatformSystemErrorPhrase(HResult code) {
  const auto bits = static_cast<std::uint32_t>(code);
  if ((bits & 0xFFFF0000U) != 0x80070000U) return {};
  switch (bits & 0xFFFFU) {
    case kSystemReadFault:
    case kSystemWriteFault:
      return ErrnoPhrase(EIO);
    case kSystemDirectory:
      return ErrnoPhrase(EISDIR);
    case kSystemAccessDenied:
      return ErrnoPhrase(EACCES);
    case kSystemDiskFull:
    case kSystemHandleDiskFull:
      return ErrnoPhrase(ENOSPC);
    case kSystemQuotaExceeded:
      return "the disk quota is exhausted";
    case kSystemFileTooLarge:
      return ErrnoPhrase(EFBIG);
    case kSystemBrokenPipe:
      return ErrnoPhrase(EPIPE);
    default:
      return {};
  }
}

std::shared_ptr<CFileStream> PlatformOpenInput(const std::string& path) {
  if (path == "-")
    return std::make_shared<detail::CPosixFileStream>(STDIN_FILENO, false, &StopSignalled);
  // Opened once: a named pipe opened and closed for a test first would let its writer see no
  // reader (and die of SIGPIPE, or lose what it wrote) before the real open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowFileError(errno, false);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    ThrowFileError(EISDIR, false);
  }
  return std::make_shared<detail::CPosixFileStream>(fd, true, &StopSignalled);
}

CCliOutput PlatformOpenOutput(const std::string& path) {
  CCliOutput output;
  if (path == "-") {
    output.target = path;
    output.file = std::make_shared<detail::CPosixFileStream>(STDOUT_FILENO, false, &StopSignalled);
    return output;
  }
  output.target = FollowLinks(path);
  struct stat st {};
  const bool exists = ::stat(output.target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) ThrowFileError(EISDIR, true);
  if (exists && !S_ISREG(st.st_mode)) {
    // A device, a pipe or a socket is written directly: replacing it by a file would break it.
    const int fd = ::open(output.target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) ThrowFileError(errno, true);
    output.file = std::make_shared<detail::CPosixFileStream>(fd, true, &StopSignalled);
    return output;
  }

  const std::string folder = FolderOf(output.target);
  const std::string base = output.target.substr(folder.size());
  std::string pattern = folder + "." + base + ".tagvert-XXXXXX";
  const CStopSignalsBlocked blocked;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    // The output itself need not exist: a missing entry is its folder.
    const int error = errno;
    ThrowFileError(error, true, error == ENOENT ? "its folder does not exist" : "");
  }
  output.tempSlot = g_temps.Publish(pattern.data(), pattern.size());
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (exists) {
    // The replacement keeps the old file's owner where permitted (changing the owner first, as
    // it may clear the set-id bits) and its mode.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Not permitted: keep at least the group where this user belongs to it.
        [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
      }
    }
    ::fchmod(fd, st.st_mode & 07777);
    DropCachedPages(output.target);
  } else {
    // mkstemp creates the file private to the user; give a new file the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  output.temp = pattern;
  auto file = std::make_shared<detail::CPosixFileStream>(fd, true, &StopSignalled);
  file->WriteBackEarly();
  output.file = std::move(file);
  return output;
}

void PlatformCommitOutput(CCliOutput& output) {
  detail::FinishOutput(output);
  if (output.temp.empty()) return;
  {
    const CStopSignalsBlocked blocked;
    const int error = ::rename(output.temp.c_str(), output.target.c_str()) == 0 ? 0 : errno;
    if (error != 0) ::unlink(output.temp.c_str());
    g_temps.Withdraw(output);
    output.temp.clear();
    if (error != 0) ThrowFileError(error, true);
  }
  // The new name is durable only once the folder is: the file's own data was synced before.
  if (const int error = SyncFolder(FolderOf(output.target))) {
    ThrowFileError(error, true,
                   ErrnoPhrase(error) +
                       " while saving the folder to the disk; the new output is in place but may "
                       "not survive a system crash");
  }
}

void PlatformAbandonOutput(CCliOutput& output) {
  if (output.file) output.file->Finish(false);
  if (output.temp.empty()) return;
  CStopSignalsBlocked blocked;
  ::unlink(output.temp.c_str());
  g_temps.Withdraw(output);
  output.temp.clear();
}

void PlatformRemoveTemporaryOutputs() {
  RemovePublishedTemps();
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
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // One handler runs at a time: a second request waits until the first has set the flag.
  for (const int number : kStopSignals)
    sigaddset(&action.sa_mask, number);
  // A signal ignored by whoever started the command (nohup, an asynchronous list of a shell
  // script) stays ignored: the command runs on through it, as any filter does.
  for (const int number : kStopSignals) {
    struct sigaction before {};
    if (::sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(number, &action, nullptr);
  }
  // Beyond the file size limit a write then fails with EFBIG, which is reported like a full disk.
  ::signal(SIGXFSZ, SIG_IGN);
}

int PlatformStopSignal() {
  return g_stopSignal.load();
}

void PlatformEndBySignal(int number) {
  EndBySignalNow(number);
}

unsigned long long PlatformPeakMemory() {
  struct rusage usage {};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<unsigned long long>(usage.ru_maxrss) * 1024ULL;
}

}  // namespace tagvert
