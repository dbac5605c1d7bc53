// Operation sequences on two CBufferStreams and two CAutoBuffers, each checked after
// every step against a byte-vector model: length, content and block capacity.
// Under AddressSanitizer a heap block's usable size is exactly the size asked for,
// so the growth rules are checked to the byte.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <malloc.h>

#include <TRXImage.h>

#include "mem/MemoryManager.h"

namespace {

// Reads the op stream; past its end every read gives 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t u16() { return static_cast<std::uint32_t>(byte()) << 8 | byte(); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Model {
    std::vector<unsigned char> bytes;
    std::uint64_t capacity = 0;
};

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// memcmp is undefined on null even for no bytes, and an empty vector's data() may be null.
bool sameBytes(const void* a, const void* b, std::size_t count) { return count == 0 || std::memcmp(a, b, count) == 0; }

std::vector<unsigned char> pattern(std::uint8_t seed, std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    return bytes;
}

void check(const CBufferStream& stream, const Model& model)
{
    require(stream.GetPos() == model.bytes.size());
    const char* buffer = stream.GetBuffer();
    require((buffer == nullptr) == (model.capacity == 0));
    if (buffer) {
        require(memoryManager()->BlockSize(const_cast<char*>(buffer)) == model.capacity);
        require(sameBytes(buffer, model.bytes.data(), model.bytes.size()));
    }
}

void check(CAutoBuffer& buffer, const Model& model)
{
    require(buffer.GetDataSize() == model.bytes.size());
    std::uint32_t remaining = 1;
    char* data = buffer.ReadData(remaining, 0);
    if (model.bytes.empty()) {
        require(data == nullptr && remaining == 0);
        return;
    }
    require(data != nullptr && remaining == model.bytes.size());
    require(malloc_usable_size(data) == model.capacity);
    require(sameBytes(data, model.bytes.data(), model.bytes.size()));
}

void streamWrite(CBufferStream& stream, Model& model, const unsigned char* source, std::uint64_t count)
{
    std::uint64_t written = 99;
    require(stream.Write(source, count, &written));
    if (count > 0 && !source) {
        require(written == 0);
        return;
    }
    require(written == count);
    // Grows to old capacity + count + 1024 whenever the bytes would reach the end.
    if (model.bytes.size() + count >= model.capacity)
        model.capacity += count + 1024;
    model.bytes.insert(model.bytes.end(), source, source + count);
}

void streamRead(CBufferStream& stream, const Model& model, int offset, std::uint64_t count)
{
    std::vector<unsigned char> out(count + 1, 0xEE);
    std::uint64_t read = 99;
    require(stream.ReadFromPos(out.data(), count, &read, offset));
    const bool fits =
        offset >= 0 && model.capacity > 0 && static_cast<std::uint64_t>(offset) + count <= model.bytes.size();
    if (!fits) {
        require(read == 0);
        return;
    }
    require(read == count);
    require(sameBytes(out.data(), model.bytes.data() + offset, count));
    require(out[count] == 0xEE);
}

void bufferWrite(CAutoBuffer& buffer, Model& model, const char* source, std::uint32_t count)
{
    const std::uint32_t written = buffer.WriteData(source, count);
    if (count == 0 || !source) {
        require(written == 0);
        return;
    }
    require(written == count);
    const std::uint64_t needed = model.bytes.size() + count;
    // Whole 512-byte granules, enough for the bytes and at least one more.
    if (needed >= model.capacity)
        model.capacity = (needed + 511) / 512 * 512;
    model.bytes.insert(model.bytes.end(), source, source + count);
}

void bufferRead(CAutoBuffer& buffer, const Model& model, std::uint32_t offset)
{
    std::uint32_t remaining = 12345;
    const char* data = buffer.ReadData(remaining, offset);
    if (offset >= model.bytes.size()) {
        require(data == nullptr && remaining == 0);
        return;
    }
    require(remaining == model.bytes.size() - offset);
    require(sameBytes(data, model.bytes.data() + offset, remaining));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    CBufferStream streams[2];
    Model streamModels[2];
    CAutoBuffer buffers[2];
    Model bufferModels[2];

    for (int step = 0; step < 200 && !in.done(); ++step) {
        const std::uint8_t op = in.byte();
        const int i = op >> 7;  // which object
        const int other = 1 - i;
        switch (op % 10) {
        case 0: {
            const std::vector<unsigned char> bytes = pattern(in.byte(), in.u16() % 5000);
            streamWrite(streams[i], streamModels[i], bytes.data(), bytes.size());
            break;
        }
        case 1:  // empty and sourceless writes
            streamWrite(streams[i], streamModels[i], nullptr, in.byte() % 3);
            break;
        case 2: {
            const int offset = static_cast<int>(in.u16()) - 256;
            streamRead(streams[i], streamModels[i], offset, in.u16() % 6000);
            break;
        }
        case 3: {
            std::vector<unsigned char> out(64);
            std::uint64_t read = 99;
            const std::uint64_t count = in.byte() % 64;
            require(streams[i].Read(out.data(), count, &read));
            const bool fits = streamModels[i].capacity > 0 && count <= streamModels[i].bytes.size();
            require(read == (fits ? count : 0));
            break;
        }
        case 4: {  // assignment, self-assignment included
            const int source = in.byte() % 2 ? other : i;
            streams[i] = streams[source];
            streamModels[i] = streamModels[source];
            break;
        }
        case 5: {
            CBufferStream copy(streams[i]);
            check(copy, streamModels[i]);
            break;
        }
        case 6: {
            const std::vector<unsigned char> bytes = pattern(in.byte(), in.u16() % 5000);
            bufferWrite(buffers[i], bufferModels[i], reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()));
            break;
        }
        case 7: bufferWrite(buffers[i], bufferModels[i], nullptr, in.byte()); break;
        case 8: bufferRead(buffers[i], bufferModels[i], in.u16()); break;
        case 9:
            if (op & 0x40) {
                buffers[i].ClearData();
                bufferModels[i] = Model();
            } else {
                buffers[i] = buffers[other];
                bufferModels[i] = bufferModels[other];
            }
            break;
        }
        for (int k = 0; k < 2; ++k) {
            check(streams[k], streamModels[k]);
            check(buffers[k], bufferModels[k]);
        }
    }
    return 0;
}
