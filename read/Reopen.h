#pragma once

struct TarvexImageImpl;

// Opens a reader and an interpreter of its own on `image.fileName` for a private copy
// of an image. When the file cannot be opened the copy has neither.
void reopenForCopy(TarvexImageImpl& image);
