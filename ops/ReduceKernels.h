#pragma once

#include <cstdint>
#include <vector>

// Inner loops of ReduceIfPossible, one line at a time.
struct ReduceKernels {
    const char* name;
    // True when every pixel of the line has three equal bytes.
    bool (*grey)(const unsigned char* rgb, std::int64_t columns);
    // Writes the (columns + 7) / 8 packed bytes of the line. `out` may alias `rgb`, or lie
    // before it in the same store.
    void (*pack)(const unsigned char* rgb, std::int64_t columns, unsigned char* out);
};

// The fastest kernels this processor runs.
const ReduceKernels& reduceKernels();
// Every variant this processor runs, the plain one first; tests compare them.
std::vector<ReduceKernels> supportedReduceKernels();
