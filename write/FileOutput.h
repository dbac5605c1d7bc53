#pragma once

#include <string>
#include <vector>

#include <signal.h>

// The file of a path write. It is created (or opened, when it is there) when made, before
// anything is encoded, so that an unwritable path fails as an open does. It is removed
// again when it goes unless every byte reached it; a file that was there and was never
// written to is left as it was.
class PathFile {
public:
    explicit PathFile(const std::string& path);
    ~PathFile();
    PathFile(const PathFile&) = delete;
    PathFile& operator=(const PathFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    // Writes `bytes` as the whole file and closes it. False when a write or the close
    // fails (a full disk, a quota, the file-size limit, an I/O error): see error().
    bool writeAll(const std::vector<unsigned char>& bytes);
    // The system's reason for the last failure.
    std::string error() const;

private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
    bool regular_ = false;
    bool created_ = false;
    bool touched_ = false;
    bool kept_ = false;
};

// A file that lives in memory only, for writers that can write to nothing but a path.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool opened() const { return fd_ >= 0; }
    // A path that opens this file again, here in this process.
    std::string path() const;
    // Everything written to it. False when it cannot be read.
    bool readAll(std::vector<unsigned char>& bytes);
    std::string error() const;

private:
    int fd_ = -1;
    int error_ = 0;
};

// Holds back SIGXFSZ on this thread while it lives, so that a write beyond the process's
// file-size limit fails with EFBIG instead of ending the process; a signal raised
// meanwhile is taken off again and reported by raised().
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld();
    ~FileSizeSignalHeld();
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;
    bool raised();

private:
    sigset_t previous_;
    bool pendingBefore_ = false;
    bool raised_ = false;
};
