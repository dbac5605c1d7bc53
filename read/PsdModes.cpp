#include "read/PsdModes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "read/ByteCursor.h"
#include "read/FileSignature.h"

namespace {

constexpr std::uint64_t kColourDataAt = 26;  // its length; the data follows
constexpr std::size_t kTableBytes = 768;     // 256 reds, 256 greens, 256 blues
constexpr std::uint16_t kTransparentIndexResource = 1047;
constexpr std::uint64_t kMostResourceBytes = std::uint64_t(16) << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool readAt(std::FILE* file, std::uint64_t offset, std::vector<unsigned char>& bytes)
{
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// The transparent index of the image resources, or -1 when they name none.
int transparentIndex(ByteCursor resources)
{
    std::uint64_t p = 0;
    while (resources.has(p, 7) && resources.matches(p, "8BIM", 4)) {
        const unsigned id = resources.u16(p + 4);
        const unsigned nameLength = resources.u8(p + 6);
        const std::uint64_t sizeAt = p + 7 + nameLength + (nameLength % 2 == 0 ? 1 : 0);
        if (!resources.has(sizeAt, 4))
            return -1;
        const std::uint64_t size = resources.u32(sizeAt);
        if (!resources.has(sizeAt + 4, size))
            return -1;
        if (id == kTransparentIndexResource && size >= 2) {
            const unsigned index = resources.u16(sizeAt + 4);
            return index < 256 ? static_cast<int>(index) : -1;
        }
        p = sizeAt + 4 + size + size % 2;
    }
    return -1;
}

// OpenImageIO 2.4 reads indexed PSD files wrongly in both modes: in raw-colour mode it
// claims two channels but delivers the indices packed at the start of each line, the
// rest uninitialised; otherwise it claims RGBA but fills RGB only (unless a transparent
// index is named), leaving a quarter of each line uninitialised. The packed indices are
// right: this reader takes them through the colour table.
class IndexedPsdInput final : public OIIO::ImageInput {
public:
    IndexedPsdInput(std::unique_ptr<OIIO::ImageInput> raw, const std::vector<unsigned char>& table, int transparent)
        : raw_(std::move(raw)), transparent_(transparent)
    {
        std::copy(table.begin(), table.end(), table_.begin());
        m_spec = raw_->spec();
        const int channels = transparent >= 0 ? 4 : 3;
        m_spec.nchannels = channels;
        m_spec.channelformats.clear();
        m_spec.format = OIIO::TypeUInt8;
        m_spec.channelnames.assign({"R", "G", "B", "A"});
        m_spec.channelnames.resize(static_cast<std::size_t>(channels));
        m_spec.alpha_channel = channels == 4 ? 3 : -1;
        line_.resize(raw_->spec().scanline_bytes(true));
    }

    const char* format_name() const override { return "psd"; }
    bool open(const std::string&, OIIO::ImageSpec&) override { return false; }  // opened when made
    bool close() override { return raw_->close(); }
    int current_subimage() const override { return 0; }
    bool seek_subimage(int subimage, int miplevel) override { return subimage == 0 && miplevel == 0; }

    bool read_native_scanline(int subimage, int miplevel, int y, int z, void* data) override
    {
        const int channels = raw_->spec().nchannels;
        const auto width = static_cast<std::size_t>(m_spec.width);
        if (line_.size() < width ||
            !raw_->read_scanlines(subimage, miplevel, y, y + 1, z, 0, channels, OIIO::TypeUnknown, line_.data())) {
            errorfmt("{}", raw_->geterror());
            return false;
        }
        auto* out = static_cast<unsigned char*>(data);
        const bool alpha = m_spec.nchannels == 4;
        for (std::size_t x = 0; x < width; ++x) {
            const unsigned char index = line_[x];
            const bool clear = index == transparent_;
            *out++ = clear ? 0 : table_[index];
            *out++ = clear ? 0 : table_[256 + index];
            *out++ = clear ? 0 : table_[512 + index];
            if (alpha)
                *out++ = clear ? 0 : 255;
        }
        return true;
    }

private:
    std::unique_ptr<OIIO::ImageInput> raw_;
    std::array<unsigned char, kTableBytes> table_{};
    int transparent_;
    std::vector<unsigned char> line_;
};

}  // namespace

int psdColourMode(const FileHead& file)
{
    ByteCursor header(file.head);
    if (!header.has(0, 26) || !header.matches(0, "8BPS", 4))
        return -1;
    return header.u16(24);
}

std::unique_ptr<OIIO::ImageInput> indexedPsdReader(std::unique_ptr<OIIO::ImageInput> raw, const std::string& fileName,
                                                   std::string& reason)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    std::vector<unsigned char> length(4);
    if (!file || !readAt(file.get(), kColourDataAt, length)) {
        reason = "the colour table of the indexed PSD cannot be read";
        return nullptr;
    }
    const std::uint64_t tableBytes = ByteCursor(length).u32(0);
    std::vector<unsigned char> table(kTableBytes);
    if (tableBytes < kTableBytes || !readAt(file.get(), kColourDataAt + 4, table)) {
        reason = "the indexed PSD has no colour table of 768 bytes";
        return nullptr;
    }
    // The transparent index lives among the image resources that follow.
    int transparent = -1;
    const std::uint64_t resourcesAt = kColourDataAt + 4 + tableBytes;
    if (readAt(file.get(), resourcesAt, length)) {
        std::vector<unsigned char> resources(
            static_cast<std::size_t>(std::min<std::uint64_t>(ByteCursor(length).u32(0), kMostResourceBytes)));
        if (readAt(file.get(), resourcesAt + 4, resources))
            transparent = transparentIndex(ByteCursor(resources));
    }
    return std::make_unique<IndexedPsdInput>(std::move(raw), table, transparent);
}
