#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

// libjpeg reports an error by calling error_exit, which must not return; its default ends
// the process. Ours jumps back to the guarded call that began the libjpeg work, so a bad
// file or a refused write becomes a failed call with libjpeg's own message. Warnings
// (damaged data that libjpeg recovers) are neither printed nor fatal.
struct LibjpegErrors {
    jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it is a pointer to us
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};

    // The error manager to put in a compress or decompress struct's `err`.
    jpeg_error_mgr* attach()
    {
        jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr info) {
            auto* self = reinterpret_cast<LibjpegErrors*>(info->err);
            (*info->err->format_message)(info, self->message);
            std::longjmp(self->jump, 1);
        };
        manager.emit_message = [](j_common_ptr, int) {};
        return &manager;
    }
};

// Runs `work`, a few libjpeg calls, and returns false when libjpeg raised an error in
// them (the message is then in `errors.message`). An error leaves `work` by longjmp, so
// nothing in it may own a resource or have a destructor.
template <class Work>
bool guarded(LibjpegErrors& errors, const Work& work)
{
    if (setjmp(errors.jump) != 0)
        return false;
    work();
    return true;
}
