#pragma once

#include <string>

#include "trx/Export.h"

/// @file
/// A small file class with the MFC calling conventions that hosts of the library
/// know: operations that fail throw a heap-allocated CFileException, which the
/// catcher releases with Delete().

/// Base of the exceptions thrown as pointers.
class TRX_API CException {
public:
    CException() = default;
    CException(const CException&) = default;
    CException& operator=(const CException&) = default;
    virtual ~CException();
    /// Copies a description of the error into `buffer` (at most `maxChars` characters,
    /// terminator included). False when there is no description.
    virtual bool GetErrorMessage(wchar_t* buffer, unsigned maxChars, unsigned* helpContext = nullptr) const;
    /// Releases an exception that was thrown as a pointer.
    void Delete();
};

/// A failed file operation: its cause, the system error number and the file name.
class TRX_API CFileException : public CException {
public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, long osError = -1, const wchar_t* fileName = nullptr);
    bool GetErrorMessage(wchar_t* buffer, unsigned maxChars, unsigned* helpContext = nullptr) const override;
    /// The cause that goes with a system error number.
    static int OsErrorToException(long osError);

    int m_cause;
    long m_lOsError;
    std::wstring m_strFileName;
};

/// A file opened by path, written at its current position.
class TRX_API CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
    };
    static constexpr int hFileNull = -1;

    CFile();
    /// Opens the file; throws CFileException* when it cannot.
    CFile(const wchar_t* path, unsigned openFlags);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    /// Closes the file if it is open; never throws.
    virtual ~CFile();

    /// Opens the file (UTF-32 path). On failure returns false and, when `error` is
    /// given, fills it in.
    virtual bool Open(const wchar_t* path, unsigned openFlags, CFileException* error = nullptr);
    /// Opens the file (UTF-8 path; other bytes are passed to the system as they are,
    /// and the kept name shows them as U+FFFD). Never throws: failure as above.
    bool Open(const char* path, unsigned openFlags, CFileException* error = nullptr);
    /// Writes all `count` bytes; throws CFileException* on failure (a full disk, a
    /// closed file).
    virtual void Write(const void* data, unsigned count);
    /// Closes the file; throws CFileException* when the system reports an error.
    /// Closing a file that is not open does nothing.
    virtual void Close();
    /// The path given to Open.
    const std::wstring& GetFilePath() const { return m_strFileName; }

    int m_hFile;

protected:
    std::wstring m_strFileName;
};
