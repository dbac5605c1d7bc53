// Placeholders until the writing subsystem lands.
#include "image/ImageImpl.h"

bool TarvexImage::write(const std::string&, int, CBufferStream*) const { return false; }
bool TarvexImage::write(const std::string&, int, CAutoBuffer*) const { return false; }
bool TarvexImage::write(const std::string&, int, CFile*) const { return false; }
bool TarvexImage::write(const std::string&) const { return false; }
bool TarvexImage::write(const char*) const { return false; }
bool TarvexImage::write(const std::wstring&) const { return false; }
bool TarvexImage::write(const wchar_t*) const { return false; }

CBufferStream::CBufferStream() : streamData(nullptr), streamCapacity(0), streamLength(0) {}
CBufferStream::CBufferStream(const CBufferStream&) : CBufferStream() {}
CBufferStream& CBufferStream::operator=(const CBufferStream&) { return *this; }
CBufferStream::~CBufferStream() = default;
bool CBufferStream::Write(const void*, std::uint64_t, std::uint64_t* written)
{
    if (written)
        *written = 0;
    return true;
}
bool CBufferStream::Read(void*, std::uint64_t, std::uint64_t* read)
{
    *read = 0;
    return true;
}
bool CBufferStream::ReadFromPos(void*, std::uint64_t, std::uint64_t* read, int)
{
    *read = 0;
    return true;
}
const char* CBufferStream::GetBuffer() const { return nullptr; }
std::uint64_t CBufferStream::GetPos() const { return streamLength; }

CAutoBuffer::CAutoBuffer() : bufferCapacity(0), bufferData(nullptr), bufferSize(0) {}
CAutoBuffer& CAutoBuffer::operator=(const CAutoBuffer&) { return *this; }
CAutoBuffer::~CAutoBuffer() = default;
std::uint32_t CAutoBuffer::GetDataSize() const { return bufferSize; }
std::uint32_t CAutoBuffer::WriteData(const char*, std::uint32_t) { return 0; }
char* CAutoBuffer::ReadData(std::uint32_t& remaining, std::uint32_t)
{
    remaining = 0;
    return nullptr;
}
void CAutoBuffer::ClearData() {}
