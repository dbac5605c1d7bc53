#pragma once

#include <cstdint>
#include <vector>

// Inner loops of resize. Every variant computes each output sample with the same
// operations in the same order, so they agree to the bit; the vector ones only run
// several samples side by side.
struct ResizeKernels {
    const char* name;
    // Widens `count` bytes to doubles.
    void (*widen)(const unsigned char* bytes, std::int64_t count, double* out);
    // One line, `samples` per pixel. `padded` holds the source line as doubles with the
    // edge pixels repeated on both sides, so output pixel x reads padded pixels
    // base[x] .. base[x] + 3 with weights[4x .. 4x+3]. Padded must hold four doubles
    // beyond its last pixel, and `out` four floats beyond its last sample.
    void (*horizontal)(const double* padded, const std::int32_t* base, const double* weights, std::int64_t width,
                       int samples, float* out);
    // One output line of `count` samples from four plane rows, rounded halves away from
    // zero and clamped to 0..255.
    void (*vertical)(const float* const rows[4], const double weights[4], std::int64_t count, unsigned char* out);
};

// The fastest kernels this processor runs.
const ResizeKernels& resizeKernels();
// Every variant this processor runs, the plain one first; tests compare them.
std::vector<const ResizeKernels*> supportedResizeKernels();
