#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace trx {

// Writes every byte, resuming after short writes and interruptions. Returns 0, or the
// error: ENOSPC when the system takes no byte without saying why.
inline int writeFully(int fd, const void* data, std::size_t count)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        // One call per GiB at most: Linux moves no more than 2 GiB less a page per call.
        const ssize_t n = ::write(fd, bytes, std::min<std::size_t>(count, std::size_t(1) << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace trx
