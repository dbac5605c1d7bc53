#pragma once

#include <cstdint>
#include <vector>

// Inner loops of ReduceIfPossible, one line at a time.
struct ReduceKernels {
    const char* name;
    // Tests that every pixel of the line has three equal bytes and writes packed byte k
    // (pixels 8k .. 8k + 7, first pixel in the top bit) over the blue byte of pixel k.
    // -1 when the line is grey; otherwise the number of blue bytes overwritten so far.
    std::int64_t (*greyPack)(unsigned char* rgb, std::int64_t columns);
    // Copies `count` packed bytes from the blue positions to `out`, which may lie at or
    // before the line in the same store.
    void (*compact)(const unsigned char* rgb, std::int64_t count, unsigned char* out);
    // Puts the green byte back over the blue byte of the first `count` (grey) pixels.
    void (*restore)(unsigned char* rgb, std::int64_t count);
};

// The fastest kernels this processor runs.
const ReduceKernels& reduceKernels();
// Every variant this processor runs, the plain one first; tests compare them.
std::vector<ReduceKernels> supportedReduceKernels();
