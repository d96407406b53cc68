// The 64-colour table, the conversion of palette memory, and snapshot bitmap files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "cartridge/loader.h"
#include "machine/bitmap_file.h"
#include "machine/palette.h"

namespace vexalo {
namespace {

namespace fs = std::filesystem;

bool SameColour(Rgb a, Rgb b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

TEST(Palette, SpotValues) {
    EXPECT_TRUE(SameColour(NesPalette[0x0F], Rgb{0, 0, 0}));
    EXPECT_TRUE(SameColour(NesPalette[0x30], Rgb{255, 255, 255}));
    EXPECT_TRUE(SameColour(NesPalette[0x00], Rgb{104, 104, 104}));
    EXPECT_TRUE(SameColour(NesPalette[0x01], Rgb{0, 64, 128}));
    EXPECT_TRUE(SameColour(NesPalette[0x16], Rgb{192, 32, 32}));
    EXPECT_TRUE(SameColour(NesPalette[0x2D], Rgb{51, 51, 51}));
    EXPECT_TRUE(SameColour(NesPalette[0x3B], Rgb{170, 255, 170}));
    EXPECT_TRUE(SameColour(NesPalette[0x3D], Rgb{153, 153, 153}));
    for (int c : {0x0D, 0x0E, 0x0F, 0x1D, 0x1E, 0x1F, 0x2E, 0x2F, 0x3E, 0x3F}) {
        EXPECT_TRUE(SameColour(NesPalette[c], Rgb{0, 0, 0})) << std::hex << c;
    }
}

TEST(Palette, ColourTableFromPaletteMemory) {
    auto vram = std::make_unique<std::array<uint8_t, 16384>>();
    vram->fill(0);
    for (int i = 0; i < 32; ++i) (*vram)[0x3F00 + i] = static_cast<uint8_t>(i + 0x10);
    (*vram)[0x3F00] = 0x0F;
    (*vram)[0x3F01] = 0x30;
    (*vram)[0x3F02] = 0x70;  // all eight bits are stored; the low six select the colour
    (*vram)[0x3F03] = 0xC1;
    (*vram)[0x3F20] = 0x30;  // beyond the palette: not used
    const std::array<Rgb, 32> table = BuildColourTable(*vram);
    EXPECT_TRUE(SameColour(table[0], Rgb{0, 0, 0}));
    EXPECT_TRUE(SameColour(table[1], Rgb{255, 255, 255}));
    EXPECT_TRUE(SameColour(table[2], NesPalette[0x30]));
    EXPECT_TRUE(SameColour(table[3], NesPalette[0x01]));
    for (int i = 4; i < 32; ++i) EXPECT_TRUE(SameColour(table[i], NesPalette[i + 0x10])) << i;
}

// A fresh empty directory per test, removed afterwards.
class BitmapFile : public ::testing::Test {
   protected:
    void SetUp() override {
        std::random_device seed;
        dir = fs::temp_directory_path() /
              ("vexalo-bitmap-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
        return names;
    }
    static std::vector<uint8_t> ReadAll(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
    }
    static uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
        return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
    }

    fs::path dir;
};

std::array<Rgb, 32> SomeColours() {
    std::array<Rgb, 32> colours{};
    for (int i = 0; i < 32; ++i) {
        colours[i] = {static_cast<uint8_t>(i * 8 + 1), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>(i * 3 + 100)};
    }
    return colours;
}

TEST_F(BitmapFile, WrittenAndReadBack) {
    std::vector<uint8_t> pixels(256 * 240);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 256; ++x) pixels[y * 256 + x] = static_cast<uint8_t>((x + 3 * y) & 31);
    }
    const auto colours = SomeColours();
    const fs::path file = dir / "shot.bmp";
    WriteBitmapFile(file.string(), pixels.data(), colours);

    const std::vector<uint8_t> b = ReadAll(file);
    const size_t offset = 14 + 40 + 256 * 4;
    ASSERT_EQ(b.size(), offset + 256 * 240);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size());
    EXPECT_EQ(U32(b, 10), offset);
    EXPECT_EQ(U32(b, 14), 40u);   // BITMAPINFOHEADER
    EXPECT_EQ(U32(b, 18), 256u);  // width
    EXPECT_EQ(U32(b, 22), 240u);  // positive height: bottom-up rows
    EXPECT_EQ(U16(b, 26), 1);     // planes
    EXPECT_EQ(U16(b, 28), 8);     // bits per pixel
    EXPECT_EQ(U32(b, 30), 0u);    // uncompressed
    const uint32_t coloursUsed = U32(b, 46);
    EXPECT_TRUE(coloursUsed == 0 || coloursUsed == 256);

    for (int i = 0; i < 256; ++i) {
        const size_t at = 54 + 4 * i;
        const Rgb c = i < 32 ? colours[i] : Rgb{0, 0, 0};
        ASSERT_EQ(b[at], c.b) << i;
        ASSERT_EQ(b[at + 1], c.g) << i;
        ASSERT_EQ(b[at + 2], c.r) << i;
        ASSERT_EQ(b[at + 3], 0) << i;
    }
    // The first stored row is the bottom row of the picture.
    for (int stored = 0; stored < 240; ++stored) {
        const int y = 239 - stored;
        for (int x = 0; x < 256; ++x) {
            ASSERT_EQ(b[offset + stored * 256 + x], pixels[y * 256 + x]) << y << "," << x;
        }
    }
    EXPECT_EQ(Entries(), std::vector<std::string>{"shot.bmp"});  // no temporary file left
}

TEST_F(BitmapFile, ReplacesAnExistingFile) {
    const fs::path file = dir / "shot.bmp";
    { std::ofstream(file) << "old contents"; }
    std::vector<uint8_t> pixels(256 * 240, 7);
    WriteBitmapFile(file.string(), pixels.data(), SomeColours());
    const std::vector<uint8_t> b = ReadAll(file);
    ASSERT_EQ(b.size(), 14u + 40 + 1024 + 256 * 240);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b.back(), 7);
    EXPECT_EQ(Entries(), std::vector<std::string>{"shot.bmp"});
}

TEST_F(BitmapFile, FailuresThrowAndLeaveNothingBehind) {
    std::vector<uint8_t> pixels(256 * 240, 1);

    // A folder that does not exist: the system's message, nothing created.
    const fs::path missing = dir / "no-such-folder" / "shot.bmp";
    try {
        WriteBitmapFile(missing.string(), pixels.data(), SomeColours());
        FAIL() << "no error for a missing folder";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos) << e.what();
    }
    EXPECT_TRUE(Entries().empty());

    // The target name is taken by a folder: the rename fails and the temporary file is removed.
    fs::create_directory(dir / "taken.bmp");
    fs::create_directory(dir / "taken.bmp" / "inside");
    EXPECT_THROW(WriteBitmapFile((dir / "taken.bmp").string(), pixels.data(), SomeColours()),
                 FileError);
    EXPECT_EQ(Entries(), std::vector<std::string>{"taken.bmp"});
}

}  // namespace
}  // namespace vexalo
