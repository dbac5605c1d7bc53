#pragma once

struct FileHead;

// False for a file whose header OpenImageIO's own reader would crash on or trust for a
// huge allocation; such a file is not handed to OpenImageIO. True for everything else,
// including files that cannot be read (OpenImageIO then reports those itself).
bool headerIsSafeForReader(const FileHead& file);
