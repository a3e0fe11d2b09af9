// Tagvert: operating-system services on POSIX systems (files).
// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "storage/char_class.h"
#include "rules/message_text.h"
#include "storage/data_storage.h"

namespace tagvert {
namespace {

// A file descriptor as a byte stream. Reads and writes retry on EINTR; a failed read reports
// the end of the data, as the storage judges only the byte counts of file calls.
class CPosixFileStream : public IByteStream {
 public:
  explicit CPosixFileStream(int fd) : m_fd(fd) {}
  ~CPosixFileStream() override { ::close(m_fd); }
  CPosixFileStream(const CPosixFileStream&) = delete;
  CPosixFileStream& operator=(const CPosixFileStream&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    for (;;) {
      const ssize_t n = ::read(m_fd, buffer, size);
      if (n >= 0) return static_cast<std::uint32_t>(n);
      if (errno != EINTR) return 0;
    }
  }

  std::uint32_t Write(const void* data, std::uint32_t size) override {
    const auto* p = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(m_fd, p + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::uint32_t>(n);
    }
    return done;
  }

  std::uint64_t Position() override {
    const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<std::uint64_t>(pos);
  }

  bool Size(std::uint64_t& size) override {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

 private:
  int m_fd;
};

}  // namespace

ByteStreamPtr PlatformOpenFileForReading(const std::u16string& name) {
  const std::string path = Utf16ToUtf8(name);
  struct stat st {};
  // Only an existing file that is not a directory can be a source.
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_shared<CPosixFileStream>(fd);
}

ByteStreamPtr PlatformCreateFileForWriting(const std::u16string& name) {
  const std::string path = Utf16ToUtf8(name);
  if (path.empty()) return nullptr;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_shared<CPosixFileStream>(fd);
}

// POSIX systems keep no message texts for the rule loader: every text is empty.
std::u16string PlatformGetMessageText(int /*number*/) { return {}; }

}  // namespace tagvert
