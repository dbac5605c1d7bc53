#include "trx/CFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "image/TextConversion.h"
#include "platform/WriteFully.h"

namespace {

std::wstring describe(const CFileException& e)
{
    std::wstring text;
    if (e.m_lOsError > 0) {
        const char* reason = std::strerror(static_cast<int>(e.m_lOsError));
        for (const char* p = reason; *p; ++p)
            text.push_back(static_cast<unsigned char>(*p));  // strerror texts are ASCII in the C locale
    } else {
        text = L"file error " + std::to_wstring(e.m_cause);
    }
    if (!e.m_strFileName.empty())
        text += L" (" + e.m_strFileName + L")";
    return text;
}

}  // namespace

CException::~CException() = default;

bool CException::GetErrorMessage(wchar_t* buffer, unsigned maxChars, unsigned* helpContext) const
{
    if (helpContext)
        *helpContext = 0;
    if (buffer && maxChars > 0)
        buffer[0] = L'\0';
    return false;
}

void CException::Delete() { delete this; }

CFileException::CFileException(int cause, long osError, const wchar_t* fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName ? fileName : L"")
{}

bool CFileException::GetErrorMessage(wchar_t* buffer, unsigned maxChars, unsigned* helpContext) const
{
    if (helpContext)
        *helpContext = 0;
    if (!buffer || maxChars == 0)
        return false;
    const std::wstring text = describe(*this);
    const std::size_t n = text.size() < maxChars - 1 ? text.size() : maxChars - 1;
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
    return true;
}

int CFileException::OsErrorToException(long osError)
{
    switch (osError) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return accessDenied;
    case EBADF: return invalidFile;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return diskFull;
    case EIO: return hardIO;
    default: return genericException;
    }
}

CFile::CFile() : m_hFile(hFileNull) {}

CFile::CFile(const wchar_t* path, unsigned openFlags) : m_hFile(hFileNull)
{
    auto* error = new CFileException;
    if (!Open(path, openFlags, error))
        throw error;
    error->Delete();
}

CFile::~CFile()
{
    if (m_hFile != hFileNull)
        ::close(m_hFile);
}

bool CFile::Open(const wchar_t* path, unsigned openFlags, CFileException* error)
{
    std::string narrow;
    try {
        narrow = WideToUtf8(path).str();
    } catch (...) {
        if (error)
            *error = CFileException(CFileException::badPath, EILSEQ, path);
        return false;
    }
    const bool opened = Open(narrow.c_str(), openFlags, error);
    m_strFileName = path ? path : L"";
    if (!opened && error)
        error->m_strFileName = m_strFileName;
    return opened;
}

bool CFile::Open(const char* path, unsigned openFlags, CFileException* error)
{
    if (m_hFile != hFileNull) {
        ::close(m_hFile);
        m_hFile = hFileNull;
    }
    int flags = O_CLOEXEC;
    switch (openFlags & 3u) {
    case modeWrite: flags |= O_WRONLY; break;
    case modeReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    if (openFlags & modeCreate)
        flags |= O_CREAT | ((openFlags & modeNoTruncate) ? 0 : O_TRUNC);
    // A Linux file name is any byte string: bytes that are not UTF-8 open as they
    // are and show as U+FFFD in the name kept for messages.
    m_strFileName = wideForDisplay(path ? path : "");
    const int fd = path ? ::open(path, flags, 0666) : -1;
    if (fd < 0) {
        const long code = path ? errno : ENOENT;
        if (error)
            *error = CFileException(CFileException::OsErrorToException(code), code, m_strFileName.c_str());
        return false;
    }
    m_hFile = fd;
    return true;
}

void CFile::Write(const void* data, unsigned count)
{
    if (m_hFile == hFileNull)
        throw new CFileException(CFileException::invalidFile, EBADF, m_strFileName.c_str());
    if (const int code = trx::writeFully(m_hFile, data, count))
        throw new CFileException(CFileException::OsErrorToException(code), code, m_strFileName.c_str());
}

void CFile::Close()
{
    if (m_hFile == hFileNull)
        return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    if (::close(fd) != 0 && errno != EINTR) {
        const long code = errno;
        throw new CFileException(CFileException::OsErrorToException(code), code, m_strFileName.c_str());
    }
}
