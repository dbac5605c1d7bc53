#pragma once

struct TarvexImageImpl;

// Reads every line of the opened file into the strips that the open laid out: colour
// (complemented when the image says so), then alpha, which goes when it is 0
// everywhere. False, with the failing line logged, when a line cannot be read.
bool readPixels(TarvexImageImpl& image);
