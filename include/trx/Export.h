#pragma once

// The one export macro: the library is built with hidden visibility and only the
// classes that carry TRX_API are part of its interface.
#if defined(_WIN32)
#  if defined(TRX_BUILDING_LIBRARY)
#    define TRX_API __declspec(dllexport)
#  else
#    define TRX_API __declspec(dllimport)
#  endif
#else
#  define TRX_API __attribute__((visibility("default")))
#endif
