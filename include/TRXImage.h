#pragma once

/// @file
/// TRXImage: raster image input and output.
///
/// An image (TarvexImage) holds 8-bit samples in horizontal strips of whole scan lines,
/// each strip a memory-mapped store, with an optional 8-bit alpha plane in strips of its
/// own. Failures are reported by `false` results and by log lines that go to the
/// function given to TarvexImage::SetLog, or to standard error.

#include <cstdint>
#include <string>
#include <vector>

#include "TRXMem.h"
#include "trx/CFile.h"
#include "trx/Errors.h"
#include "trx/Export.h"
#include "trx/MemMapper.h"
#include "trx/WriteOptions.h"

struct TarvexImageImpl;
struct TarvexImageAccess;

/// Base class for progress notes. The library stores a monitor with the image but
/// never calls it; hosts may use it for their own reporting.
class TRX_API TarvexImageProgress {
public:
    TarvexImageProgress() = default;
    TarvexImageProgress(const TarvexImageProgress&) = default;
    TarvexImageProgress& operator=(const TarvexImageProgress&) = default;
    virtual ~TarvexImageProgress();

    /// Returns true and ignores its arguments.
    virtual bool progressMonitor(const wchar_t* text, std::int64_t a, std::int64_t b);
    /// Converts `text` from UTF-8 and calls the wide overload (through virtual
    /// dispatch), returning its result. Throws trx::TextConversionError on invalid UTF-8.
    virtual bool progressMonitor(const char* text, std::int64_t a, std::int64_t b);
};

/// A view of one scan line: a mapper of the strip and the line's byte offset in it.
class TRX_API InternalLinePointer {
public:
    /// An empty view.
    InternalLinePointer();
    /// A view of `strip`, at `offset` bytes.
    InternalLinePointer(trx::MemMapObjectAllocator& strip, int offset);
    InternalLinePointer(const InternalLinePointer& other);
    InternalLinePointer& operator=(const InternalLinePointer& other);
    ~InternalLinePointer();

    /// Read-only pointer to the line's first byte (null for an empty view).
    const unsigned char* get() const;
    const unsigned char* get_pucstr() const;
    /// Writable pointer to the line's first byte (null for an empty view).
    unsigned char* get_pustr() const;
    void* get_writeable() const;

private:
    friend class TarvexImage;
    trx::MemMapObjectMapper mapper_;
    std::int32_t offset_;
};

/// An owned run of bytes (an ICC profile) in a store of its own.
class TRX_API Blob {
public:
    Blob();
    /// Holds the same bytes as `other`.
    Blob(const Blob& other);
    Blob& operator=(const Blob& other);
    ~Blob();

    /// Replaces the content by `length` bytes copied from `data`. A negative length,
    /// or a null `data`, gives an empty blob.
    void update(const void* data, int length);
    /// First byte, or null when empty.
    const char* data() const;
    /// Length in bytes; never negative.
    std::int64_t length() const;

private:
    trx::MemMapObjectMapper* mapper_;
};

/// A growable byte stream whose block comes from the process-wide memory manager.
/// Growth failures are reported through the counts, never by exceptions.
class TRX_API CBufferStream {
public:
    CBufferStream();
    /// Deep copy: the copy owns a block of its own holding the same bytes.
    CBufferStream(const CBufferStream& other);
    /// Deep copy; on allocation failure the stream keeps its old content.
    CBufferStream& operator=(const CBufferStream& other);
    virtual ~CBufferStream();

    /// Appends `count` bytes. `*written` (when not null) is `count`, or 0 when the
    /// stream could not grow. Always returns true.
    bool Write(const void* source, std::uint64_t count, std::uint64_t* written);
    /// Copies the first `count` bytes of the stream; `*read` is `count` or 0.
    bool Read(void* destination, std::uint64_t count, std::uint64_t* read);
    /// Copies `count` bytes from `offset`; `*read` is `count` or 0.
    bool ReadFromPos(void* destination, std::uint64_t count, std::uint64_t* read, int offset);
    /// The stream's bytes (null when it has no block).
    const char* GetBuffer() const;
    /// Bytes written so far.
    std::uint64_t GetPos() const;

private:
    unsigned char* streamData;
    std::uint64_t streamCapacity;
    std::uint64_t streamLength;
};

/// A growable byte buffer on the C heap, in multiples of 512 bytes.
class TRX_API CAutoBuffer {
public:
    CAutoBuffer();
    CAutoBuffer(const CAutoBuffer&) = delete;
    /// Deep copy; on allocation failure the buffer keeps its old content.
    CAutoBuffer& operator=(const CAutoBuffer& other);
    ~CAutoBuffer();

    /// Bytes held.
    std::uint32_t GetDataSize() const;
    /// Appends `count` bytes; returns `count`, or 0 (buffer unchanged) on failure.
    std::uint32_t WriteData(const char* source, std::uint32_t count);
    /// Pointer to byte `offset` and the bytes from there to the end, or null and 0.
    char* ReadData(std::uint32_t& remaining, std::uint32_t offset);
    /// Frees the block and empties the buffer.
    void ClearData();

private:
    std::uint32_t bufferCapacity;
    char* bufferData;
    std::uint32_t bufferSize;
};

/// A handle to a shared, reference-counted image.
///
/// Copies of a handle share one image: a change through one is seen through all,
/// until modifyImage() gives a handle a private copy. A handle and the handles that
/// share its image are used by one thread at a time.
class TRX_API TarvexImage {
public:
    /// Colour model. Values other than the named ones may be set; they behave as RGB.
    enum colourSpaceType : std::int32_t {
        colourSpaceUnknown = 0,
        colourSpaceBilevel = 1,  ///< one bit per pixel, lines padded to 4 bytes
        colourSpaceRGB = 5,
        colourSpaceGrey = 8,
        colourSpaceCMYK = 9,
    };
    /// Resolution unit; pixels per inch is the only one.
    enum resolutionType : std::int32_t { resolutionInches = 1 };

    /// Points at one scan line; made by setupLinePointer or setupAlphaLinePointer.
    class TRX_API LinePointer {
    public:
        LinePointer();
        LinePointer(const LinePointer& other);
        LinePointer& operator=(const LinePointer& other);
        ~LinePointer();

        const unsigned char* get() const;
        const unsigned char* get_pucstr() const;
        unsigned char* get_pustr() const;
        void* get_writeable() const;

    private:
        friend class TarvexImage;
        InternalLinePointer* line_;
    };

    /// @name Construction and sharing
    ///@{
    /// A new, empty image (colour space 0, no strips).
    TarvexImage();
    /// Shares `other`'s image.
    TarvexImage(const TarvexImage& other);
    /// Shares `other`'s image, releasing the one held before.
    TarvexImage& operator=(const TarvexImage& other);
    ~TarvexImage();
    /// Gives this handle a private copy of a shared image (pixels copied, the file
    /// reopened). Does nothing when the image is not shared.
    void modifyImage();
    ///@}

    /// @name Properties
    ///@{
    std::int64_t columns() const;
    std::int64_t rows() const;
    /// Bits per sample: always 8.
    int depth() const;
    /// True when the image has at least one row.
    bool valid() const;
    /// True after a successful open() or SetIsRead().
    bool hasValidData() const;
    void SetIsRead();
    /// 1, 8, 24 or 32 by colour space; 8 for an image packed by ReduceIfPossible().
    int bitsPerPixel() const;
    colourSpaceType colourSpace() const;
    /// Sets the colour space; colourSpaceCMYK also marks the samples as C, M, Y, K.
    /// The flag is not used.
    void colourSpace(colourSpaceType space, bool unused = false);
    int linesPerStrip() const;
    /// Bytes of one line of the pixel strips in use.
    int bytesPerLine() const;
    int stripCount() const;
    /// bytesPerLine() x rows().
    std::int64_t fileSize() const;
    /// Horizontal resolution in pixels per inch; 0 means none.
    double xResolution() const;
    void xResolution(const double& pixelsPerInch);
    /// Vertical resolution in pixels per inch; 0 means none.
    double yResolution() const;
    void yResolution(const double& pixelsPerInch);
    resolutionType resolutionUnits() const;
    /// Does nothing: pixels per inch is the only unit.
    void resolutionUnits(resolutionType unit);
    /// Always 0xFFFFFF.
    std::uint32_t matteColour() const;
    /// Always false.
    bool hasValidMatteColour() const;
    /// Stores the monitor's address; the image does not own it.
    void setProgressMonitor(TarvexImageProgress& monitor);
    ///@}

    /// @name Strips and lines
    ///@{
    /// Sets the dimensions and lays out the strips: `stripCount` and `linesPerStrip`
    /// of 0 choose the default (strips of at least 16 MiB). When `strips` or
    /// `alphaStrips` are given (each with at least the strip count of allocators),
    /// the image shares their bytes copy-on-write; otherwise it sizes its own strips,
    /// whose new bytes are zero. A strip count above the row count leaves the strips
    /// past the last line empty. Arguments that would lead outside a vector or a
    /// strip are refused with a log line and leave the image as it was.
    void size(std::int64_t columns, std::int64_t rows, int stripCount, int linesPerStrip,
              const std::vector<trx::MemMapObjectAllocator>* strips,
              const std::vector<trx::MemMapObjectAllocator>* alphaStrips);
    /// The pixel strips in use (the packed strips after ReduceIfPossible()).
    std::vector<trx::MemMapObjectAllocator>& strips();
    std::vector<trx::MemMapObjectAllocator>& alphaStrips();
    /// Points `line` at scan line `y` of the pixel strips. False, with `line` left
    /// empty (its pointers null), when `y` is outside the image or its strip does not
    /// hold it.
    bool setupLinePointer(LinePointer& line, int y);
    /// Points `line` at scan line `y` of the alpha strips; false as above.
    bool setupAlphaLinePointer(LinePointer& line, int y);
    ///@}

    /// @name ICC profile
    ///@{
    /// True when the opened file has an "ICCProfile" attribute or, for an image not
    /// opened from a file, when a profile was given.
    bool hasIccProfile() const;
    /// The opened file's profile, or the given one; empty when there is none.
    Blob iccColourProfile() const;
    /// Keeps `profile` as the image's own; an empty blob changes nothing.
    void iccColourProfile(Blob& profile);
    /// Writes the opened file's profile bytes to `path`.
    bool saveIccProfile(const std::wstring& path) const;
    /// Sets both flags to false and returns false.
    bool hasIccProfileEXIF(bool& hasProfile, bool& isExif) const;
    ///@}

    /// @name Log
    ///@{
    /// Sends every later log line of the process to `function` (null: standard error).
    static void SetLog(void (*function)(const wchar_t* line));
    ///@}

    /// @name Reading
    ///@{
    /// Opens and reads the file (UTF-8 path). True when the image was read.
    bool open(const std::string& path);
    bool open(const char* path);
    /// As above, the path converted to UTF-8 first. A path with no UTF-8 form (a lone
    /// surrogate, a value above U+10FFFF) throws trx::TextConversionError, and a
    /// failed allocation trx::OutOfMemoryError, out of the call.
    bool open(const wchar_t* path);
    bool open(const std::wstring& path);
    /// Reads the file last given to open() unless the image is marked read.
    bool read();
    ///@}

    /// @name Writing
    /// `name` chooses the format by its extension (or is a format name); `quality`
    /// (-1 for none) sets the JPEG quality. Memory targets receive the encoded bytes
    /// appended; nothing reaches them when encoding fails. CMYK images are written as
    /// CMYK to TIFF and JPEG and as RGB (Pillow's colours) elsewhere, others as RGB
    /// (grey, bilevel and packed images expanded); with alpha, as CMYKA or RGBA. A name
    /// without a writer, or whose writer cannot write to memory, gives false on a target
    /// overload without a log line. An empty image gives false. A path is written whole
    /// or not at all: a full disk or other failed write gives false and removes the file.
    ///@{
    bool write(const std::string& name, int quality, CBufferStream* stream) const;
    bool write(const std::string& name, int quality, CAutoBuffer* buffer) const;
    bool write(const std::string& name, int quality, CFile* file) const;
    bool write(const std::string& path) const;
    bool write(const char* path) const;
    /// The wide paths are converted to UTF-8 first; a path with no UTF-8 form throws
    /// trx::TextConversionError out of the call, as open() does.
    bool write(const std::wstring& path) const;
    bool write(const wchar_t* path) const;
    /// As above, with per-call settings (quality, compression, further attributes),
    /// set after the library's own attributes. For example, an uncompressed TIFF:
    /// `image.write("out.tif", trx::WriteOptions().compression("none"))`.
    bool write(const std::string& path, const trx::WriteOptions& options) const;
    bool write(const std::string& name, CBufferStream* stream, const trx::WriteOptions& options) const;
    bool write(const std::string& name, CAutoBuffer* buffer, const trx::WriteOptions& options) const;
    bool write(const std::string& name, CFile* file, const trx::WriteOptions& options) const;
    ///@}

    /// @name Colour map and matte
    ///@{
    /// Index of the entry nearest to `colour` (sum of absolute byte differences of
    /// the low three bytes; the lowest index wins ties); -1 for an empty map.
    int FindNearestColourMap(unsigned long colour);
    /// Entry at `index`, or 0xFFFFFF outside the map.
    unsigned long colourMap(int index) const;
    /// Sets the entry at `index`; ignored outside the map.
    void colourMap(int index, unsigned long colour);
    std::int64_t colourMapSize() const;
    /// Replaces the map by `entries` zero entries.
    void colourMapSize(unsigned int entries);
    bool hasColourMap() const;
    /// True when the image has alpha.
    bool matte() const;
    /// With true, gives a true-colour image without alpha an opaque alpha plane.
    /// False never removes alpha.
    void matte(bool enable);
    ///@}

    /// @name Operations
    ///@{
    /// Levels curve: black point `low`, white point `high` (fractions of full scale)
    /// and `gamma`. False (image unchanged) unless high > low and gamma > 0, or when
    /// the image has no 3- or 4-byte colour pixels. An image with no lines or no
    /// columns (a new one too) gives true.
    bool level(double low, double high, double gamma);
    /// Resamples to `width` x `height` with a separable four-tap cubic. Sizes below 1,
    /// the current size, and packed or bilevel images leave the image unchanged. Lines
    /// longer than 16 MiB give strips of one line and empty strips past the last line.
    /// A size whose lines or strips would not be addressable in 32 bits, that needs
    /// more memory than the machine has, or whose strips cannot be allocated, is
    /// refused with a log line (image unchanged).
    void resize(int width, int height);
    /// Packs an RGB image whose every pixel is grey to one bit per pixel (set where
    /// grey is not 0). False (image unchanged) otherwise. An image with no lines (a
    /// new one too) has no pixel that is not grey and is reduced.
    bool ReduceIfPossible();
    ///@}

private:
    friend struct TarvexImageAccess;
    bool writeToPath(const std::string& path, int quality, const trx::WriteOptions* options) const;
    TarvexImageImpl* impl_;
};
