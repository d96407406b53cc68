// Snapshot files: the frame buffer as an uncompressed 8-bit Windows bitmap. The file is built in
// memory and replaces the target in one step, so a failed write never leaves a truncated
// picture under the chosen name.
#include "machine/bitmap_file.h"

#include <vector>

#include "machine/file_io.h"

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

}  // namespace

void WriteBitmapFile(const std::string& fileName, const uint8_t* pixels,
                     const std::array<Rgb, 32>& colours) {
    const std::vector<uint8_t> bytes = BuildBitmap(pixels, colours);

    ReplaceFile(fileName, bytes.data(), bytes.size());
}

}  // namespace vexalo
