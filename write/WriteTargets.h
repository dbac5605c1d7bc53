#pragma once

#include <string>
#include <vector>

#include "TRXImage.h"

// Appends the encoded file to a target in 4096-byte chunks and a final shorter one. On a
// failed append, logs the target's message with `name` and the file's size and gives
// false; bytes appended before stay in the target.
bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CBufferStream& stream);
bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CAutoBuffer& buffer);
bool appendEncoded(const std::vector<unsigned char>& encoded, const std::string& name, CFile& file);

constexpr std::size_t kWriteChunk = 4096;
