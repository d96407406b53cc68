// Snapshot files: the frame buffer as an uncompressed 8-bit Windows bitmap. The file is built in
// memory, written to a temporary file beside the target and renamed over it, so a failed write
// never leaves a truncated picture under the chosen name.
#include "machine/bitmap_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

#include "cartridge/loader.h"

namespace vexalo {

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 240;
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kColourCount = 256;
constexpr uint32_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize + 4 * kColourCount;
constexpr uint32_t kImageSize = kWidth * kHeight;  // rows of 256 bytes need no padding
constexpr uint32_t kFileSize = kPixelOffset + kImageSize;
constexpr int kTemporaryNameAttempts = 100;

class ByteWriter {
   public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }

   private:
    std::vector<uint8_t>& out_;
};

std::vector<uint8_t> BuildBitmap(const uint8_t* pixels, const std::array<Rgb, 32>& colours) {
    std::vector<uint8_t> file;
    file.reserve(kFileSize);
    ByteWriter w(file);
    // BITMAPFILEHEADER
    w.U8('B');
    w.U8('M');
    w.U32(kFileSize);
    w.U16(0);
    w.U16(0);
    w.U32(kPixelOffset);
    // BITMAPINFOHEADER; a positive height means rows are stored bottom-up.
    w.U32(kInfoHeaderSize);
    w.U32(kWidth);
    w.U32(kHeight);
    w.U16(1);  // planes
    w.U16(8);  // bits per pixel
    w.U32(0);  // BI_RGB, uncompressed
    w.U32(kImageSize);
    w.U32(2835);  // 72 dots per inch, in pixels per metre
    w.U32(2835);
    w.U32(kColourCount);
    w.U32(0);  // all colours important
    // Colour table: blue, green, red, reserved; the 32 palette entries, then black.
    for (uint32_t i = 0; i < kColourCount; ++i) {
        const Rgb c = i < colours.size() ? colours[i] : Rgb{0, 0, 0};
        w.U8(c.b);
        w.U8(c.g);
        w.U8(c.r);
        w.U8(0);
    }
    for (int row = kHeight - 1; row >= 0; --row) {
        file.insert(file.end(), pixels + row * kWidth, pixels + (row + 1) * kWidth);
    }
    return file;
}

// The system's message for a failed C library call, or a generic one if it left no error.
std::string ErrorText(int error) {
    return std::strerror(error != 0 ? error : EIO);
}

// Opens a new file beside `fileName` that did not exist before; sets `name` to its path.
std::FILE* CreateTemporaryFile(const std::string& fileName, std::string& name) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        name = fileName + ".tmp" + (attempt ? std::to_string(attempt) : std::string());
        std::FILE* f = std::fopen(name.c_str(), "wbx");
        if (f) return f;
        const int error = errno;
        if (error != EEXIST) throw FileError(ErrorText(error));
    }
    throw FileError(ErrorText(EEXIST));
}

[[noreturn]] void Fail(const std::string& temporaryName, const std::string& message) {
    std::error_code ignored;
    std::filesystem::remove(temporaryName, ignored);
    throw FileError(message);
}

}  // namespace

void WriteBitmapFile(const std::string& fileName, const uint8_t* pixels,
                     const std::array<Rgb, 32>& colours) {
    const std::vector<uint8_t> bytes = BuildBitmap(pixels, colours);

    std::string temporaryName;
    std::FILE* f = CreateTemporaryFile(fileName, temporaryName);
    errno = 0;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
#if defined(__unix__) || defined(__APPLE__)
    ok = ok && ::fsync(::fileno(f)) == 0;  // the data is on disk before it takes the name
#endif
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) Fail(temporaryName, ErrorText(error));

    std::error_code ec;
    std::filesystem::rename(temporaryName, fileName, ec);
    if (ec) Fail(temporaryName, ec.message());
}

}  // namespace vexalo
