#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trxfuzz {

// The extensions the open target tries; an input's first byte picks one.
extern const char* const kExtensions[];
extern const std::size_t kExtensionCount;

// A file of this process in a private temporary folder, named `name`; rewritten
// with `size` bytes of `data`. Aborts when the file cannot be written.
std::string scratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

}  // namespace trxfuzz
