#include "write/FileOutput.h"

#include "platform/WriteFully.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <pthread.h>

namespace {

bool pending(int signal)
{
    sigset_t set;
    return sigpending(&set) == 0 && sigismember(&set, signal) == 1;
}

}  // namespace

PathFile::PathFile(const std::string& path) : path_(path)
{
    // A file that is there already is left as it is until the bytes are ready.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created_ = fd_ >= 0;
    if (fd_ < 0 && errno == EEXIST)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    struct stat status;
    regular_ = ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode);
}

PathFile::~PathFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    // Only a regular file is ours to remove, and only one we made or began to overwrite:
    // never a device such as /dev/null, nor a file the failed write did not touch.
    if (!kept_ && regular_ && (created_ || touched_))
        ::unlink(path_.c_str());
}

bool PathFile::writeAll(const std::vector<unsigned char>& bytes)
{
    FileSizeSignalHeld held;
    touched_ = true;
    // Emptied first, so that the old file's blocks are free for the new one.
    if (regular_ && ::ftruncate(fd_, 0) != 0) {
        error_ = errno;
        return false;
    }
    if ((error_ = trx::writeFully(fd_, bytes.data(), bytes.size())) != 0)
        return false;
    const int fd = fd_;
    fd_ = -1;
    // Some file systems report a failed write-back only here.
    if (::close(fd) != 0 && errno != EINTR) {
        error_ = errno;
        return false;
    }
    kept_ = true;
    return true;
}

std::string PathFile::error() const { return std::strerror(error_); }

MemoryFile::MemoryFile()
{
    fd_ = ::memfd_create("trximage-encoded", MFD_CLOEXEC);
    if (fd_ < 0)
        error_ = errno;
}

MemoryFile::~MemoryFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string MemoryFile::path() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool MemoryFile::readAll(std::vector<unsigned char>& bytes)
{
    struct stat status;
    if (::fstat(fd_, &status) != 0) {
        error_ = errno;
        return false;
    }
    bytes.resize(static_cast<std::size_t>(status.st_size));
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::pread(fd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            return false;
        }
        at += static_cast<std::size_t>(n);
    }
    return true;
}

std::string MemoryFile::error() const { return std::strerror(error_); }

FileSizeSignalHeld::FileSizeSignalHeld()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
    pendingBefore_ = pending(SIGXFSZ);
}

bool FileSizeSignalHeld::raised()
{
    if (!pendingBefore_ && pending(SIGXFSZ)) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGXFSZ);
        const timespec now{0, 0};
        while (sigtimedwait(&set, nullptr, &now) == SIGXFSZ) {
        }
        raised_ = true;
    }
    return raised_;
}

FileSizeSignalHeld::~FileSizeSignalHeld()
{
    raised();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
