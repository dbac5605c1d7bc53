// trximage: the command-line face of the library, built on its public API only.
//
// Exit status: 0 every file succeeded, 1 something failed, 2 usage error (then nothing
// has been written).
#include <TRXImage.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* colourSpaceName(TarvexImage::colourSpaceType space)
{
    switch (space) {
    case TarvexImage::colourSpaceBilevel: return "bilevel";
    case TarvexImage::colourSpaceRGB: return "RGB";
    case TarvexImage::colourSpaceGrey: return "grey";
    case TarvexImage::colourSpaceCMYK: return "CMYK";
    default: return "unknown";
    }
}

// Paths on the command line are UTF-8; the ICC call takes a wide path.
std::wstring widen(const std::string& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

// Log lines arrive as UTF-32; a value that is no code point shows as U+FFFD.
std::string utf8Of(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        static const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
        const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out += static_cast<char>(lead[extra] | (c >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k)
            out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    return out;
}

// The library's log lines for the file in hand, without their newline: they say why
// a file failed, so they go with the tool's own message instead of straight to stderr.
std::vector<std::string> fileLog;

void collectLine(const wchar_t* line)
{
    std::string text = utf8Of(line);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    fileLog.push_back(std::move(text));
}

// The collected lines without the library's prefix, for JSON.
nlohmann::json logMessages()
{
    static const std::string prefix = "[TRXImage] ";
    nlohmann::json messages = nlohmann::json::array();
    for (const auto& line : fileLog)
        messages.push_back(line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line);
    return messages;
}

// Prints `failure` (when there is one) and the collected lines below it, then starts
// the next file's lines afresh.
void reportLog(const std::string& failure)
{
    if (!failure.empty())
        std::fprintf(stderr, "trximage: %s\n", failure.c_str());
    for (const auto& line : fileLog)
        std::fprintf(stderr, "  %s\n", line.c_str());
    fileLog.clear();
}

nlohmann::json describe(TarvexImage& image)
{
    return {{"columns", image.columns()},
            {"rows", image.rows()},
            {"colourSpace", colourSpaceName(image.colourSpace())},
            {"bitsPerPixel", image.bitsPerPixel()},
            {"xResolution", image.xResolution()},
            {"yResolution", image.yResolution()},
            {"alpha", image.matte()},
            {"iccProfileBytes", image.iccColourProfile().length()},
            {"strips", image.stripCount()},
            {"linesPerStrip", image.linesPerStrip()},
            {"bytesPerLine", image.bytesPerLine()}};
}

void printDescription(const std::string& name, TarvexImage& image)
{
    std::printf("%s: %lld x %lld, %s, %d bits per pixel, %g x %g ppi, alpha %s, ICC profile %lld bytes, "
                "%d strip(s) of %d lines\n",
                name.c_str(), static_cast<long long>(image.columns()), static_cast<long long>(image.rows()),
                colourSpaceName(image.colourSpace()), image.bitsPerPixel(), image.xResolution(), image.yResolution(),
                image.matte() ? "yes" : "no", static_cast<long long>(image.iccColourProfile().length()),
                image.stripCount(), image.linesPerStrip());
}

int runInfo(const std::vector<std::string>& files, bool json)
{
    int status = kOk;
    nlohmann::json all = nlohmann::json::array();
    for (const auto& file : files) {
        TarvexImage image;
        const bool read = image.open(file);
        if (!read)
            status = kFailed;
        if (json) {
            nlohmann::json entry = read ? describe(image) : nlohmann::json{{"error", "cannot read"}};
            entry["file"] = file;
            entry["errors"] = logMessages();
            all.push_back(entry);
        } else if (read) {
            printDescription(file, image);
        }
        reportLog(read ? "" : "cannot read " + file);
    }
    // File names are bytes; those that are not UTF-8 show U+FFFD rather than fail.
    if (json)
        std::cout << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return status;
}

struct Edits {
    int quality = -1;
    std::optional<std::pair<int, int>> size;
    std::optional<double> scale;
    std::vector<double> level;
    bool reduce = false;
    bool matte = false;
    bool stripIcc = false;
    std::string iccOut;
    std::string compression;
    std::vector<std::pair<std::string, std::string>> attributes;
};

// NAME=VALUE from the command line: an int or a float when the whole value reads as
// one, else text.
void addAttribute(trx::WriteOptions& options, const std::string& name, const std::string& value)
{
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (!value.empty() && *end == '\0' && errno == 0 && number >= INT_MIN && number <= INT_MAX) {
        options.attribute(name, static_cast<int>(number));
        return;
    }
    const float real = std::strtof(value.c_str(), &end);
    if (!value.empty() && *end == '\0' && errno == 0)
        options.attribute(name, real);
    else
        options.attribute(name, value);
}

// Lower-case extension of a file name, with its dot.
std::string extensionOf(const std::string& name)
{
    std::string extension = fs::path(name).extension().string();
    for (auto& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

// PNG and TIFF are deflated at level 3 rather than the writers' 6: on photographs about
// 2.5 times as fast for 2-3% more bytes. Set first, so --compression and --attrib win.
void addFastDeflate(trx::WriteOptions& options, const std::string& out)
{
    const std::string extension = extensionOf(out);
    if (extension == ".png")
        options.attribute("png:compressionLevel", 3);
    else if (extension == ".tif" || extension == ".tiff")
        options.compression("zip:3");
}

// The source's ICC profile goes with its pixels, as other converters keep it, when it
// describes what is written: CMYK where the image is CMYK and the format holds CMYK
// (TIFF, JPEG), RGB for everything else (grey and bilevel images are written as RGB,
// CMYK as RGB where the format has no CMYK). Another profile would misdescribe the
// output, so it is dropped with a note.
void keepIccProfile(trx::WriteOptions& options, const TarvexImage& image, const std::string& in, const std::string& out)
{
    const Blob profile = image.iccColourProfile();
    if (profile.length() == 0)
        return;
    static const char* const cmykFormats[] = {".tif", ".tiff", ".jpg", ".jpeg", ".jpe", ".jfif"};
    const std::string extension = extensionOf(out);
    bool cmyk = false;
    for (const char* format : cmykFormats)
        cmyk |= image.colourSpace() == TarvexImage::colourSpaceCMYK && extension == format;
    const std::string space = profile.length() >= 20 ? std::string(profile.data() + 16, 4) : "none";
    if (space != (cmyk ? "CMYK" : "RGB ")) {
        std::fprintf(stderr, "trximage: %s: its ICC profile describes '%s', not the %s written; dropped\n", in.c_str(),
                     space.c_str(), cmyk ? "CMYK" : "RGB");
        return;
    }
    options.iccProfile(profile);
}

// Runs the requested edits in a fixed order: matte, resize, level, reduce.
bool applyEdits(TarvexImage& image, const Edits& edits, const std::string& name)
{
    if (edits.matte)
        image.matte(true);
    if (edits.size) {
        image.resize(edits.size->first, edits.size->second);
    } else if (edits.scale) {
        const double f = *edits.scale / 100.0;
        image.resize(static_cast<int>(image.columns() * f + 0.5), static_cast<int>(image.rows() * f + 0.5));
    }
    if (!edits.level.empty() && !image.level(edits.level[0], edits.level[1], edits.level[2])) {
        std::fprintf(stderr, "trximage: %s: levels refused (need HIGH > LOW, GAMMA > 0, 3 or 4 bytes a pixel)\n",
                     name.c_str());
        return false;
    }
    if (edits.reduce && !image.ReduceIfPossible())
        std::fprintf(stderr, "trximage: %s: not an RGB image of grey pixels only, kept as it was\n", name.c_str());
    return true;
}

struct Job {
    std::string in;
    std::string out;
};

bool convertOne(const Job& job, const Edits& edits)
{
    TarvexImage image;
    if (!image.open(job.in)) {
        reportLog("cannot read " + job.in);
        return false;
    }
    if (!edits.iccOut.empty() && !image.hasIccProfile())
        std::fprintf(stderr, "trximage: %s has no ICC profile to save\n", job.in.c_str());
    else if (!edits.iccOut.empty() && !image.saveIccProfile(widen(edits.iccOut)))
        std::fprintf(stderr, "trximage: cannot save the ICC profile to %s\n", edits.iccOut.c_str());
    if (!applyEdits(image, edits, job.in)) {
        reportLog("");
        return false;
    }
    trx::WriteOptions options;
    options.quality(edits.quality);
    if (!edits.stripIcc)
        keepIccProfile(options, image, job.in, job.out);
    addFastDeflate(options, job.out);
    if (!edits.compression.empty())
        options.compression(edits.compression);
    for (const auto& [key, value] : edits.attributes)
        addAttribute(options, key, value);
    const bool written = image.write(job.out, options);
    reportLog(written ? "" : "cannot write " + job.out);
    return written;
}

// IN OUT; or, once --out-dir or --format is given, every name is an input, written to
// that folder (else its own) under its own name with that extension (else its own).
std::vector<Job> planJobs(const std::vector<std::string>& files, const std::string& outDir, const std::string& format)
{
    if (outDir.empty() && format.empty())
        return {{files[0], files[1]}};
    const std::string extension = format.empty() || format[0] == '.' ? format : "." + format;
    std::vector<Job> jobs;
    for (const auto& in : files) {
        fs::path name = fs::path(in).filename();
        if (!extension.empty())
            name.replace_extension(extension);
        const fs::path folder = outDir.empty() ? fs::path(in).parent_path() : fs::path(outDir);
        jobs.push_back({in, (folder / name).string()});
    }
    return jobs;
}

// Two names meet when they spell the same absolute path once the existing folders and
// links are resolved, or when both exist as one file (a hard link, a link the spelling
// does not show).
struct Identity {
    std::string path;
    bool exists = false;
    std::pair<dev_t, ino_t> file{};
};

Identity identify(const std::string& name)
{
    Identity id;
    std::error_code ec;
    const fs::path full = fs::weakly_canonical(fs::absolute(name, ec), ec);
    id.path = ec ? fs::path(name).lexically_normal().string() : full.string();
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
        id.exists = true;
        id.file = {st.st_dev, st.st_ino};
    }
    return id;
}

// The files of a run, each with the command-line name that brought it in.
class FileSet {
public:
    const std::string* find(const Identity& id) const
    {
        if (auto at = byPath_.find(id.path); at != byPath_.end())
            return &at->second;
        if (auto at = byFile_.find(id.file); id.exists && at != byFile_.end())
            return &at->second;
        return nullptr;
    }
    void add(const Identity& id, const std::string& name)
    {
        byPath_.emplace(id.path, name);
        if (id.exists)
            byFile_.emplace(id.file, name);
    }

private:
    std::map<std::string, std::string> byPath_;
    std::map<std::pair<dev_t, ino_t>, std::string> byFile_;
};

// Every way the run would lose a file: an output that is one of the inputs, or that
// two inputs would both write. Checked before anything is written.
std::vector<std::string> findClashes(const std::vector<Job>& jobs, const std::string& iccOut)
{
    std::vector<std::string> clashes;
    FileSet inputs, outputs;
    for (const auto& job : jobs)
        inputs.add(identify(job.in), job.in);
    for (const auto& job : jobs) {
        const Identity out = identify(job.out);
        if (const std::string* in = inputs.find(out))
            clashes.push_back("the output " + job.out + " is the input " + *in);
        else if (const std::string* other = outputs.find(out))
            clashes.push_back(*other + " and " + job.in + " would both be written to " + job.out);
        else
            outputs.add(out, job.in);
    }
    if (iccOut.empty())
        return clashes;
    const Identity icc = identify(iccOut);
    if (jobs.size() > 1)
        clashes.push_back("each of the " + std::to_string(jobs.size()) + " inputs would write its profile to " +
                          iccOut);
    else if (const std::string* in = inputs.find(icc))
        clashes.push_back("the profile file " + iccOut + " is the input " + *in);
    else if (outputs.find(icc))
        clashes.push_back("the profile file " + iccOut + " is the output " + jobs[0].out);
    return clashes;
}

int runConvert(const std::vector<std::string>& files, const std::string& outDir, const std::string& format,
               const Edits& edits)
{
    const bool batch = !outDir.empty() || !format.empty();
    if (!batch && files.size() != 2) {
        std::fprintf(stderr, "trximage convert: give IN OUT, or inputs with --out-dir and/or --format\n");
        return kUsage;
    }
    const std::vector<Job> jobs = planJobs(files, outDir, format);
    if (const auto clashes = findClashes(jobs, edits.iccOut); !clashes.empty()) {
        std::fprintf(stderr, "trximage convert: refused, nothing written:\n");
        for (const auto& clash : clashes)
            std::fprintf(stderr, "  %s\n", clash.c_str());
        return kUsage;
    }
    if (!batch)
        return convertOne(jobs[0], edits) ? kOk : kFailed;

    std::error_code ec;
    if (!outDir.empty() && !fs::create_directories(outDir, ec) && ec) {
        std::fprintf(stderr, "trximage: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
        return kFailed;
    }
    const bool terminal = isatty(fileno(stderr)) != 0;
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0, failed = 0;
    for (const auto& job : jobs) {
        if (!convertOne(job, edits)) {
            ++failed;
            std::fprintf(stderr, "trximage: failed: %s\n", job.in.c_str());
        }
        ++done;
        if (terminal) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\r%zu of %zu files, %.1f s", done, jobs.size(), elapsed);
            if (done == jobs.size())
                std::fputc('\n', stderr);
        }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("converted %zu of %zu files%s%s in %.2f s%s\n", done - failed, jobs.size(),
                outDir.empty() ? "" : " to ", outDir.c_str(), elapsed, failed ? "; some failed" : "");
    return failed ? kFailed : kOk;
}

// Paints a diagonal RGB gradient with a grey band, through line pointers.
void paintGradient(TarvexImage& image)
{
    const auto width = image.columns();
    const auto height = image.rows();
    TarvexImage::LinePointer line;
    for (int y = 0; y < height; ++y) {
        if (!image.setupLinePointer(line, y))
            continue;
        unsigned char* px = line.get_pustr();
        for (std::int64_t x = 0; x < width; ++x) {
            px[3 * x + 0] = static_cast<unsigned char>(255 * x / (width > 1 ? width - 1 : 1));
            px[3 * x + 1] = static_cast<unsigned char>(255 * y / (height > 1 ? height - 1 : 1));
            px[3 * x + 2] = static_cast<unsigned char>(255 - px[3 * x + 0]);
        }
    }
}

int runDemo(const std::string& dirArgument)
{
    const fs::path dir = dirArgument.empty() ? fs::temp_directory_path() / "trximage-demo" : fs::path(dirArgument);
    std::error_code ec;
    fs::create_directories(dir, ec);
    int status = kOk;
    auto check = [&status](bool ok, const char* what) {
        std::printf("  %-44s %s\n", what, ok ? "ok" : "FAILED");
        if (!ok)
            status = kFailed;
    };

    TarvexImage image;
    image.colourSpace(TarvexImage::colourSpaceRGB);
    image.size(640, 480, 0, 0, nullptr, nullptr);
    image.xResolution(300.0);
    image.yResolution(300.0);
    paintGradient(image);
    image.SetIsRead();
    printDescription("built", image);

    std::printf("copy on write:\n");
    TarvexImage copy(image);
    copy.modifyImage();
    TarvexImage::LinePointer line, original;
    copy.setupLinePointer(line, 0);
    line.get_pustr()[0] = 7;
    image.setupLinePointer(original, 0);
    check(line.get()[0] == 7 && original.get()[0] == 0, "un-shared copy changes alone");

    std::printf("colour map:\n");
    image.colourMapSize(3);
    image.colourMap(0, 0x000000);
    image.colourMap(1, 0x808080);
    image.colourMap(2, 0xFFFFFF);
    check(image.FindNearestColourMap(0x7A7A7A) == 1, "nearest of 0x7A7A7A is entry 1");

    std::printf("operations:\n");
    TarvexImage edited(image);
    edited.modifyImage();
    edited.matte(true);
    check(edited.matte(), "matte(true) adds an alpha plane");
    edited.resize(320, 240);
    check(edited.columns() == 320 && edited.rows() == 240, "resize to 320 x 240");
    check(edited.level(0.1, 0.9, 1.5), "level(0.1, 0.9, 1.5)");

    TarvexImage grey;
    grey.colourSpace(TarvexImage::colourSpaceRGB);
    grey.size(64, 64, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 64; ++y) {
        grey.setupLinePointer(line, y);
        for (int x = 0; x < 64 * 3; ++x)
            line.get_pustr()[x] = ((x / 3 + y) / 8) % 2 ? 255 : 0;
    }
    check(grey.ReduceIfPossible() && grey.bitsPerPixel() == 8, "checkerboard reduced to one bit per pixel");

    std::printf("files in %s:\n", dir.string().c_str());
    for (const char* name : {"demo.png", "demo.jpg", "demo.tif", "demo-edited.png", "demo-bilevel.png"}) {
        TarvexImage& source = std::string(name).find("edited") != std::string::npos    ? edited
                              : std::string(name).find("bilevel") != std::string::npos ? grey
                                                                                       : image;
        const fs::path path = dir / name;
        const bool ok = source.write(path.string());
        std::printf("  %-44s %s (%lld bytes)\n", path.string().c_str(), ok ? "written" : "FAILED",
                    ok ? static_cast<long long>(fs::file_size(path, ec)) : 0LL);
        if (!ok)
            status = kFailed;
    }

    std::printf("memory targets:\n");
    CBufferStream stream;
    const bool streamOk = image.write("png", -1, &stream);
    std::printf("  %-44s %s (%llu bytes)\n", "PNG into a CBufferStream", streamOk ? "ok" : "FAILED",
                static_cast<unsigned long long>(stream.GetPos()));
    CAutoBuffer buffer;
    const bool bufferOk = image.write("jpg", 90, &buffer);
    std::printf("  %-44s %s (%u bytes)\n", "JPEG quality 90 into a CAutoBuffer", bufferOk ? "ok" : "FAILED",
                buffer.GetDataSize());
    if (!streamOk || !bufferOk)
        status = kFailed;

    std::printf("read back:\n");
    TarvexImage back;
    const bool readOk = back.open((dir / "demo.png").string());
    check(readOk && back.columns() == 640 && back.rows() == 480, "demo.png reads back as 640 x 480");
    if (readOk)
        printDescription("  demo.png", back);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"trximage: open, inspect, edit and write raster images with the TRXImage library"};
    app.require_subcommand(1);
    // The parser would only say that a command is missing; name the word instead.
    if (argc > 1 && argv[1][0] != '-' && std::strcmp(argv[1], "info") != 0 && std::strcmp(argv[1], "convert") != 0 &&
        std::strcmp(argv[1], "demo") != 0) {
        std::fprintf(stderr, "trximage: unknown command '%s' (the commands are info, convert and demo)\n", argv[1]);
        return kUsage;
    }

    CLI::App* info = app.add_subcommand("info", "Print what the library reads from image files");
    std::vector<std::string> infoFiles;
    bool json = false;
    info->add_option("FILE", infoFiles, "Image files")->required();
    info->add_flag("--json", json, "Machine-readable output");

    CLI::App* convert = app.add_subcommand(
        "convert", "Convert IN to OUT (format by OUT's extension), or a batch of inputs with --out-dir and/or "
                   "--format. An output that is an input, or that two inputs would write, is refused before "
                   "anything is written");
    std::vector<std::string> convertFiles;
    std::string outDir, format, sizeText, levelText;
    double scale = 0;
    Edits edits;
    convert->add_option("FILES", convertFiles, "IN OUT, or inputs with --out-dir and/or --format")->required();
    convert->add_option("--quality", edits.quality, "JPEG quality 0-100 (default: the writer's)")
        ->check(CLI::Range(0, 100));
    auto* resizeOption = convert->add_option("--resize", sizeText, "New size WIDTHxHEIGHT");
    convert->add_option("--scale", scale, "New size in percent of the old")->excludes(resizeOption);
    convert->add_option("--level", levelText, "Levels LOW,HIGH,GAMMA (LOW and HIGH as fractions, 0 to 1)");
    convert->add_flag("--reduce", edits.reduce, "Pack an all-grey image to one bit per pixel");
    convert->add_flag("--matte", edits.matte, "Add an opaque alpha plane");
    convert->add_option("--icc-out", edits.iccOut, "Save the input's ICC profile to this file");
    convert->add_flag("--strip-icc", edits.stripIcc, "Do not carry the input's ICC profile to the output");
    convert->add_option("--compression", edits.compression,
                        "Writer compression: none, zip, zip:LEVEL, lzw, packbits, ... (default: zip:3 for TIFF, "
                        "the writer's for others)");
    std::vector<std::string> attributeTexts;
    convert
        ->add_option("--attrib", attributeTexts,
                     "Further writer attribute NAME=VALUE (repeatable; PNG defaults to "
                     "png:compressionLevel=3)")
        ->allow_extra_args(false);
    convert->add_option("--out-dir", outDir, "Folder for the outputs; every name is then an input");
    convert->add_option("--format", format,
                        "Output extension (png, jpg, tif, ...); every name is then an input, written beside "
                        "itself unless --out-dir is given");

    CLI::App* demo = app.add_subcommand("demo", "Build an image, run every operation, write files (no input needed)");
    std::string demoDir;
    demo->add_option("DIR", demoDir, "Folder for the demo's files (default: a temporary folder)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kOk : kUsage;
    }

    // The library's lines are shown with the file they belong to.
    if (info->parsed() || convert->parsed())
        TarvexImage::SetLog(collectLine);
    try {
        if (info->parsed())
            return runInfo(infoFiles, json);
        if (demo->parsed())
            return runDemo(demoDir);
        if (convert->parsed()) {
            if (!sizeText.empty()) {
                int w = 0, h = 0;
                char x = 0;
                if (std::sscanf(sizeText.c_str(), "%d%c%d", &w, &x, &h) != 3 || (x != 'x' && x != 'X') || w < 1 ||
                    h < 1) {
                    std::fprintf(stderr, "trximage convert: --resize takes WIDTHxHEIGHT, e.g. 3000x2000\n");
                    return kUsage;
                }
                edits.size = std::make_pair(w, h);
            }
            if (scale > 0)
                edits.scale = scale;
            for (const auto& text : attributeTexts) {
                const auto at = text.find('=');
                if (at == std::string::npos || at == 0) {
                    std::fprintf(stderr, "trximage convert: --attrib takes NAME=VALUE, e.g. png:filter=8\n");
                    return kUsage;
                }
                edits.attributes.emplace_back(text.substr(0, at), text.substr(at + 1));
            }
            if (!levelText.empty()) {
                double low = 0, high = 0, gamma = 0;
                if (std::sscanf(levelText.c_str(), "%lf,%lf,%lf", &low, &high, &gamma) != 3) {
                    std::fprintf(stderr, "trximage convert: --level takes LOW,HIGH,GAMMA, e.g. 0.1,0.9,1.5\n");
                    return kUsage;
                }
                edits.level = {low, high, gamma};
            }
            return runConvert(convertFiles, outDir, format, edits);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trximage: %s\n", e.what());
        return kFailed;
    }
    return kUsage;
}
