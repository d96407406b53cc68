// Builds iNES images in memory and in temporary files, for tests that need an image of a
// particular shape (or a damaged one).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vexalo::test {

inline constexpr uint8_t kJumpToSelf[] = {0x4C, 0x00, 0xC0};  // JMP $C000

struct ImageShape {
    int prgPages = 1;
    int chrPages = 1;
    uint8_t flags6 = 0;
    uint8_t flags7 = 0;
    // Program placed at $8000 of the last PRG page's window ($C000 when one page); the reset
    // vector points at it, NMI and IRQ vectors at an RTI right after the program.
    std::vector<uint8_t> program{std::begin(kJumpToSelf), std::end(kJumpToSelf)};
};

// The image bytes. The program is placed at the start of the last 16 KB page, which the
// default layout shows at $C000.
inline std::vector<uint8_t> BuildImage(const ImageShape& shape) {
    const size_t prgStart = 16;
    std::vector<uint8_t> image(
        prgStart + size_t(shape.prgPages) * 16384 + size_t(shape.chrPages) * 8192, 0);
    const uint8_t header[8] = {
        'N',          'E',         'S', 0x1A, uint8_t(shape.prgPages), uint8_t(shape.chrPages),
        shape.flags6, shape.flags7};
    std::copy(std::begin(header), std::end(header), image.begin());
    if (shape.prgPages > 0) {
        const size_t last = prgStart + size_t(shape.prgPages - 1) * 16384;
        std::copy(shape.program.begin(), shape.program.end(), image.begin() + last);
        const uint16_t rti = uint16_t(0xC000 + shape.program.size());
        image[last + shape.program.size()] = 0x40;  // RTI
        const size_t vectors = last + 16384 - 6;
        const uint16_t words[3] = {rti, 0xC000, rti};  // NMI, reset, IRQ
        for (int i = 0; i < 3; ++i) {
            image[vectors + 2 * i] = uint8_t(words[i] & 0xFF);
            image[vectors + 2 * i + 1] = uint8_t(words[i] >> 8);
        }
    }
    return image;
}

// A fresh directory under the test temporary directory, removed with the object.
class TempDir {
   public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::path(::testing::TempDir()) /
                (std::string("vexalo_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return file.string();
    }
    std::vector<uint8_t> Read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

   private:
    std::filesystem::path path_;
};

}  // namespace vexalo::test
