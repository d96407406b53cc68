// Reading iNES images: the log lines, the header facts, the stores and the refused files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cartridge/loader.h"
#include "cartridge/mapper.h"
#include "machine/bus.h"
#include "machine/machine.h"

namespace vexalo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// An iNES image: header bytes 4-8 as given, then `trainer`, then PRG-ROM whose byte i is
// (i * 7 + i / 16384) mod 251 and CHR-ROM whose byte i is (i * 13 + 5) mod 253, each cut to
// `prgBytes` / `chrBytes` when those are given.
struct Image {
    uint8_t prgPages = 1;
    uint8_t chrPages = 1;
    uint8_t flags6 = 0;
    uint8_t flags7 = 0;
    uint8_t byte8 = 0;
    Bytes trainer;
    long prgBytes = -1;  // -1: all pages
    long chrBytes = -1;
};

uint8_t PrgByte(size_t i) {
    return static_cast<uint8_t>((i * 7 + i / 16384) % 251);
}
uint8_t ChrByte(size_t i) {
    return static_cast<uint8_t>((i * 13 + 5) % 253);
}

Bytes Build(const Image& image) {
    Bytes b(16, 0);
    const uint8_t header[9] = {
        'N',          'E',          'S',        0x1A, image.prgPages, image.chrPages,
        image.flags6, image.flags7, image.byte8};
    std::copy(std::begin(header), std::end(header), b.begin());
    b.reserve(16 + image.trainer.size() + image.prgPages * 16384UL + image.chrPages * 8192UL);
    b.insert(b.end(), image.trainer.begin(), image.trainer.end());
    const size_t prg = image.prgBytes >= 0 ? image.prgBytes : image.prgPages * 16384UL;
    for (size_t i = 0; i < prg; ++i) b.push_back(PrgByte(i));
    const size_t chr = image.chrBytes >= 0 ? image.chrBytes : image.chrPages * 8192UL;
    for (size_t i = 0; i < chr; ++i) b.push_back(ChrByte(i));
    return b;
}

class LoaderTest : public ::testing::Test {
   protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               (std::string("vexalo_loader_") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        m_ = std::make_unique<Machine>();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string WriteFile(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Lines appended by the last load: from its leading empty line on.
    std::vector<std::string> LinesFrom(size_t before) const {
        const auto lines = m_->log.Lines();
        return std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end());
    }

    bool Load(const std::string& path, std::vector<std::string>* lines = nullptr) {
        const size_t before = m_->log.Lines().size();
        const bool ok = LoadCartridgeImage(*m_, path);
        if (lines) *lines = LinesFrom(before);
        return ok;
    }

    fs::path dir_;
    std::unique_ptr<Machine> m_;
};

TEST_F(LoaderTest, ALongFileNameIsLoggedWhole) {
    const std::string name = std::string(600, 'q') + ".nes";  // longer than any name on disk
    EXPECT_THROW(Load((dir_ / name).string()), FileError);
    EXPECT_EQ(m_->log.Lines().back(), "Loading Cartridge : \"" + name + "\".");
}

TEST_F(LoaderTest, ReadsHeaderFactsStoresAndLogLines) {
    Image image;
    image.prgPages = 2;
    image.chrPages = 1;
    image.flags6 = 0x01;
    Bytes file = Build(image);
    file[3] = 0x00;  // byte 3 is not examined
    file[12] = 0x77;
    const std::string path = WriteFile("Quest.Two.nes", file);

    std::vector<std::string> lines;
    ASSERT_TRUE(Load(path, &lines));
    const std::vector<std::string> expected = {
        "",
        "Loading Cartridge : \"Quest.Two.nes\".",
        "iNES #0 file format found.",
        "[2] of PRG Rom",
        "[1] of CHR Ram",
        "Size of the cartridge : [40 Kb]",
    };
    EXPECT_EQ(lines, expected);

    const Cartridge& c = m_->cart;
    EXPECT_EQ(c.romFileName, "Quest.Two.nes");
    EXPECT_EQ(c.romFilePath, dir_.string() + "/");
    EXPECT_TRUE(std::equal(c.CartridgeHeader.begin(), c.CartridgeHeader.end(), file.begin()));
    EXPECT_EQ(c.prgPageCount, 2);
    EXPECT_EQ(c.chrPageCount, 1);
    EXPECT_EQ(c.headerFlags, 0x01);
    EXPECT_EQ(c.mapperNumber, 0);
    EXPECT_TRUE(c.verticalMirroring);
    EXPECT_EQ(c.mirrorDistance, 2048);
    EXPECT_EQ(c.fourScreen, 0);
    ASSERT_EQ(c.prgRom.size(), 32768u);
    ASSERT_EQ(c.chrRom.size(), 8192u);
    EXPECT_TRUE(std::equal(c.prgRom.begin(), c.prgRom.end(), file.begin() + 16));
    EXPECT_TRUE(std::equal(c.chrRom.begin(), c.chrRom.end(), file.begin() + 16 + 32768));
}

TEST_F(LoaderTest, MapperNumberMirroringAndFourScreenFromBytes6To8) {
    struct Case {
        uint8_t b6, b7, b8;
        int mapper;
    };
    for (const Case& k :
         {Case{0x41, 0x10, 0x00, 20}, Case{0x41, 0x10, 0x44, 4}, Case{0xF0, 0xF0, 0x00, 255},
          Case{0x0A, 0xB0, 0x01, 0}, Case{0x0E, 0x40, 0x00, 64}}) {
        Image image;
        image.flags6 = k.b6;
        image.flags7 = k.b7;
        image.byte8 = k.b8;
        std::vector<std::string> lines;
        ASSERT_TRUE(Load(WriteFile("m.nes", Build(image)), &lines));
        EXPECT_EQ(m_->cart.mapperNumber, k.mapper) << int(k.b6) << " " << int(k.b8);
        EXPECT_EQ(lines.at(2), "iNES #" + std::to_string(k.mapper) + " file format found.");
        EXPECT_EQ(m_->cart.headerFlags, k.b6);
        EXPECT_EQ(m_->cart.verticalMirroring, (k.b6 & 1) != 0);
        EXPECT_EQ(m_->cart.mirrorDistance, (k.b6 & 1) ? 2048 : 1024);
        EXPECT_EQ(m_->cart.fourScreen, k.b6 & 8);
    }
}

TEST_F(LoaderTest, SizeLineAndImageWithoutChrRom) {
    Image big;
    big.prgPages = 8;
    big.chrPages = 16;
    std::vector<std::string> lines;
    ASSERT_TRUE(Load(WriteFile("big.nes", Build(big)), &lines));
    EXPECT_EQ(lines.at(5), "Size of the cartridge : [256 Kb]");
    EXPECT_EQ(m_->cart.chrRom.size(), 16u * 8192);

    Image noChr;
    noChr.chrPages = 0;
    ASSERT_TRUE(Load(WriteFile("nochr.nes", Build(noChr)), &lines));
    EXPECT_EQ(lines.at(4), "[0] of CHR Ram");
    EXPECT_EQ(lines.at(5), "Size of the cartridge : [16 Kb]");
    EXPECT_TRUE(m_->cart.chrRom.empty());
    EXPECT_EQ(m_->cart.prgRom.size(), 16384u);
}

TEST_F(LoaderTest, WrongSignatureIsRefusedAndKeepsTheRest) {
    Image good;
    good.prgPages = 2;
    good.flags6 = 0x31;
    ASSERT_TRUE(Load(WriteFile("good.nes", Build(good))));
    const Bytes goodPrg = m_->cart.prgRom;

    Bytes lower = Build(good);
    lower[0] = 'n';
    lower[1] = 'e';
    lower[2] = 's';
    Bytes other = Build(good);
    other[2] = 'Z';
    Bytes exe(600, 0x90);
    exe[0] = 'M';
    exe[1] = 'Z';
    for (const auto& [name, bytes] : {std::pair<std::string, Bytes>{"lower.nes", lower},
                                      {"other.nes", other},
                                      {"prog.exe", exe}}) {
        std::vector<std::string> lines;
        EXPECT_FALSE(Load(WriteFile(name, bytes), &lines));
        const std::vector<std::string> expected = {"", "Loading Cartridge : \"" + name + "\".",
                                                   "Unsupported file format."};
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(m_->cart.romFileName, name);
        EXPECT_TRUE(std::equal(m_->cart.CartridgeHeader.begin(), m_->cart.CartridgeHeader.end(),
                               bytes.begin()));
        // Nothing else changed.
        EXPECT_EQ(m_->cart.mapperNumber, 3);
        EXPECT_EQ(m_->cart.prgPageCount, 2);
        EXPECT_EQ(m_->cart.prgRom, goodPrg);
    }
}

TEST_F(LoaderTest, FilesShorterThanTheHeaderAreRefused) {
    Image previous;
    Bytes previousFile = Build(previous);
    previousFile[15] = 0xAB;
    ASSERT_TRUE(Load(WriteFile("previous.nes", previousFile)));

    std::vector<std::string> lines;
    EXPECT_FALSE(Load(WriteFile("empty.nes", {}), &lines));
    EXPECT_EQ(lines.back(), "Unsupported file format.");
    for (uint8_t b : m_->cart.CartridgeHeader) EXPECT_EQ(b, 0);

    const Bytes fifteen(previousFile.begin(), previousFile.begin() + 15);
    EXPECT_FALSE(Load(WriteFile("fifteen.nes", fifteen), &lines));
    EXPECT_EQ(lines.back(), "Unsupported file format.");
    EXPECT_TRUE(std::equal(fifteen.begin(), fifteen.end(), m_->cart.CartridgeHeader.begin()));
    EXPECT_EQ(m_->cart.CartridgeHeader[15], 0);  // not the previous image's $AB
}

TEST_F(LoaderTest, ImageShorterThanItsHeaderLoadsWithZeros) {
    Image image;
    image.prgPages = 2;
    image.chrPages = 1;
    image.prgBytes = 16384 + 100;
    image.chrBytes = 0;
    m_->cart.prgRom.assign(40000, 0xEE);  // leftovers must not show through
    m_->cart.chrRom.assign(9000, 0xEE);
    ASSERT_TRUE(Load(WriteFile("short.nes", Build(image))));
    const Cartridge& c = m_->cart;
    ASSERT_EQ(c.prgRom.size(), 32768u);
    ASSERT_EQ(c.chrRom.size(), 8192u);
    for (size_t i = 0; i < 16484; ++i) ASSERT_EQ(c.prgRom[i], PrgByte(i)) << i;
    for (size_t i = 16484; i < c.prgRom.size(); ++i) ASSERT_EQ(c.prgRom[i], 0) << i;
    for (uint8_t b : c.chrRom) ASSERT_EQ(b, 0);
}

TEST_F(LoaderTest, TrainerIsSkippedAndPlacedAt7000) {
    Image image;
    image.flags6 = HeaderTrainer;
    for (int i = 0; i < 512; ++i) image.trainer.push_back(static_cast<uint8_t>(0x5A ^ i));
    m_->cart.backedMemory[0x0FFF] = 0x11;  // a load starts from cleared battery RAM
    m_->cart.backedMemory[0x1200] = 0x22;
    ASSERT_TRUE(Load(WriteFile("trainer.nes", Build(image))));
    const Cartridge& c = m_->cart;
    for (size_t i = 0; i < c.prgRom.size(); ++i) ASSERT_EQ(c.prgRom[i], PrgByte(i)) << i;
    for (size_t i = 0; i < c.chrRom.size(); ++i) ASSERT_EQ(c.chrRom[i], ChrByte(i)) << i;
    for (int i = 0; i < 512; ++i) ASSERT_EQ(c.backedMemory[0x1000 + i], image.trainer[i]) << i;
    EXPECT_EQ(c.backedMemory[0x0FFF], 0);
    EXPECT_EQ(c.backedMemory[0x1200], 0);
}

TEST_F(LoaderTest, TrainerCutShortReadsAsZero) {
    Image image;
    image.flags6 = HeaderTrainer;
    image.trainer = Bytes(100, 0x99);
    image.prgBytes = 0;
    image.chrBytes = 0;
    m_->cart.backedMemory.fill(0xEE);
    ASSERT_TRUE(Load(WriteFile("cut.nes", Build(image))));
    EXPECT_EQ(m_->cart.backedMemory[0x1000 + 99], 0x99);
    EXPECT_EQ(m_->cart.backedMemory[0x1000 + 100], 0);
    EXPECT_EQ(m_->cart.backedMemory[0x11FF], 0);
    for (uint8_t b : m_->cart.prgRom) ASSERT_EQ(b, 0);
}

TEST_F(LoaderTest, ImageWithoutProgramRomIsRefused) {
    Image image;
    image.prgPages = 0;
    image.chrPages = 1;
    m_->cart.prgRom.assign(16384, 0xEE);
    std::vector<std::string> lines;
    EXPECT_FALSE(Load(WriteFile("noprg.nes", Build(image)), &lines));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "[0] of PRG Rom");
    EXPECT_EQ(lines[5], "Size of the cartridge : [8 Kb]");
    EXPECT_EQ(lines[6], "The cartridge has no program ROM.");
    EXPECT_TRUE(m_->cart.prgRom.empty());
}

// The homebrew images beside the project: each loads with its documented header facts, its stores
// hold the file's bytes, and after the mapper's set-up its reset vector points into PRG-ROM.
TEST_F(LoaderTest, SharedHomebrewImagesLoadAndSetUp) {
    struct Known {
        const char* path;
        int mapper, prg, chr;
    };
    const Known known[] = {
        {"lunar-limit/lunarlimit.nes", 0, 2, 1},
        {"robotfindskitten/robotfindskitten.nes", 0, 2, 0},
        {"nesdoug-cnrom-mappers/mappers.nes", 3, 2, 4},
        {"nesdoug-hello-mmc1/hello_mmc1.nes", 1, 8, 16},
        {"nesdoug-hello-mmc3/hello_mmc3.nes", 4, 8, 16},
    };
    int found = 0;
    for (const Known& k : known) {
        const fs::path path = fs::path(VEXALO_SHARED_ROM_DIR) / k.path;
        if (!fs::exists(path)) continue;
        ++found;
        std::ifstream in(path, std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_TRUE(Load(path.string())) << k.path;
        const Cartridge& c = m_->cart;
        EXPECT_EQ(c.mapperNumber, k.mapper) << k.path;
        EXPECT_EQ(c.prgPageCount, k.prg) << k.path;
        EXPECT_EQ(c.chrPageCount, k.chr) << k.path;
        ASSERT_EQ(file.size(), 16 + c.prgRom.size() + c.chrRom.size()) << k.path;
        EXPECT_TRUE(std::equal(c.prgRom.begin(), c.prgRom.end(), file.begin() + 16)) << k.path;
        EXPECT_TRUE(std::equal(c.chrRom.begin(), c.chrRom.end(),
                               file.begin() + 16 + static_cast<long>(c.prgRom.size())))
            << k.path;

        ASSERT_TRUE(MapperSetup(*m_, c.mapperNumber)) << k.path;
        const int reset = CartridgeByte(*m_, 0xFFFC) | CartridgeByte(*m_, 0xFFFD) << 8;
        EXPECT_GE(reset, 0x8000) << k.path;
        // $FFFC shows the fourth-to-last byte of the last PRG page.
        EXPECT_EQ(CartridgeByte(*m_, 0xFFFC), c.prgRom[c.prgRom.size() - 4]) << k.path;
    }
    if (found == 0) GTEST_SKIP() << "no homebrew images in " << VEXALO_SHARED_ROM_DIR;
}

TEST_F(LoaderTest, UnreadableFilesThrowWithTheSystemMessage) {
    const std::string missing = (dir_ / "missing.nes").string();
    try {
        LoadCartridgeImage(*m_, missing);
        FAIL() << "no exception";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), missing + ": " + std::strerror(ENOENT));
    }
    // The log keeps the lines written before the failure.
    const std::vector<std::string> lines2 = LinesFrom(m_->log.Lines().size() - 2);
    EXPECT_EQ(lines2.at(0), "");
    EXPECT_EQ(lines2.at(1), "Loading Cartridge : \"missing.nes\".");

    // A directory opens on some systems but cannot be read.
    try {
        LoadCartridgeImage(*m_, dir_.string());
        FAIL() << "no exception";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), dir_.string() + ": " + std::strerror(EISDIR));
    }

    EXPECT_THROW(LoadCartridgeImage(*m_, "vexalo-no-such-image.nes"), FileError);
    EXPECT_EQ(m_->cart.romFileName, "vexalo-no-such-image.nes");
    EXPECT_EQ(m_->cart.romFilePath, "");
}

}  // namespace
}  // namespace vexalo
