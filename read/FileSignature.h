#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The first and last bytes of a file: enough to tell its format and to screen its header.
struct FileHead {
    bool regular = false;  // a regular file that could be opened and read
    std::string failure;   // the system's words when it could not
    std::uint64_t size = 0;
    std::vector<unsigned char> head;  // up to kHeadBytes from the start
    std::vector<unsigned char> tail;  // up to kTailBytes from the end
};

constexpr std::size_t kHeadBytes = 132;  // DICOM's "DICM" ends there
constexpr std::size_t kTailBytes = 18;   // the Targa footer

// Reads the bytes above. Anything but a regular file (a folder, a pipe) is not opened.
FileHead readFileHead(const std::string& fileName);

// OpenImageIO's name of the format (its "input_format_list" names) whose readers
// recognise these bytes, or empty when none does.
std::string formatBySignature(const FileHead& file);

// The format OpenImageIO's own extension table gives the file name's extension, or
// empty when the extension is not in it.
std::string formatByExtension(const std::string& fileName);
