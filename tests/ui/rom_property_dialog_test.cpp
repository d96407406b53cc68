// The ROM header dialog under the offscreen platform, on images started through the engine.
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cartridge/engine.h"
#include "cartridge/rom_property_dialog.h"
#include "machine/bus.h"
#include "unit/image_builder.h"

using namespace vexalo;
using vexalo::test::BuildImage;
using vexalo::test::ImageShape;

namespace {

template <class T>
T* Find(const QObject& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("the dialog has no %s", name);
    return child;
}

QString Text(const QObject& dialog, const char* field) {
    return Find<QLineEdit>(dialog, field)->text();
}

bool Ticked(const QObject& dialog, const char* box) {
    return Find<QCheckBox>(dialog, box)->isChecked();
}

// Header bytes 7-15 replaced by `bytes` (the rest of them zero).
std::vector<uint8_t> WithExpansion(std::vector<uint8_t> image, const std::string& bytes) {
    for (size_t i = 0; i < 9; ++i) image[7 + i] = i < bytes.size() ? uint8_t(bytes[i]) : 0;
    return image;
}

// Serial writes of a five-bit value to an MMC1 register, low bit first.
void Mmc1Write(Machine& m, uint16_t address, uint8_t value) {
    for (int bit = 0; bit < 5; ++bit) MapperWrite(m, address, (value >> bit) & 1);
}

}  // namespace

class RomPropertyDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // An engine with `image` started from a file of that name.
    std::unique_ptr<Engine> Start(const std::vector<uint8_t>& image,
                                  const QString& name = QStringLiteral("game.nes")) {
        const std::string path = dir_.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        auto engine = std::make_unique<Engine>();
        if (!engine->StartEngine(path)) qFatal("the image %s was refused", path.c_str());
        return engine;
    }

   private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void pagesSizesAndMapper() {
        // 8 PRG pages, no CHR-ROM, mapper 4, vertical mirroring.
        const auto engine = Start(BuildImage({.prgPages = 8, .chrPages = 0, .flags6 = 0x41}),
                                  QStringLiteral("Quest.Two.nes"));
        TfrmROMProperty dialog(engine->machine());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("ROM Property"));
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(Text(dialog, "edFileName"), QStringLiteral("QUEST.TWO.NES"));
        QCOMPARE(Text(dialog, "edHeader"), QStringLiteral("NES"));
        QCOMPARE(Text(dialog, "edProgPages"), QStringLiteral("8"));
        QCOMPARE(Find<QLabel>(dialog, "lblROM")->text(), QStringLiteral("[128 Kb]"));
        QCOMPARE(Text(dialog, "edCharPages"), QStringLiteral("0"));
        QCOMPARE(Find<QLabel>(dialog, "lblVROM")->text(), QStringLiteral("[0 Kb]"));
        QCOMPARE(Text(dialog, "edMapping"), QStringLiteral("#4, Nintendo MMC3"));
        QCOMPARE(Text(dialog, "edEXpansion"), QString());
        QVERIFY(Ticked(dialog, "cbVertMirror"));
        QVERIFY(!Ticked(dialog, "cbBattery"));
        QVERIFY(!Ticked(dialog, "cbTrainer"));
        QVERIFY(!Ticked(dialog, "cbFourScreen"));

        // After the game selects horizontal mirroring, a new dialog shows the box clear.
        MapperWrite(engine->machine(), 0xA000, 1);
        TfrmROMProperty after(engine->machine());
        QVERIFY(!Ticked(after, "cbVertMirror"));
    }

    void bandaiNumberAndExpansionByte() {
        // Mapper 16 lives in byte 7's high nibble, which the expansion text also shows: 0x10 is
        // not printable and appears as one replacement character.
        auto engine =
            Start(BuildImage({.prgPages = 2, .chrPages = 2, .flags6 = 0x01, .flags7 = 0x10}));
        TfrmROMProperty dialog(engine->machine());
        QCOMPARE(Text(dialog, "edMapping"), QStringLiteral("#16, Bandai"));
        QCOMPARE(Find<QLabel>(dialog, "lblROM")->text(), QStringLiteral("[32 Kb]"));
        QCOMPARE(Find<QLabel>(dialog, "lblVROM")->text(), QStringLiteral("[16 Kb]"));
        QCOMPARE(Text(dialog, "edEXpansion"), QString(QChar::ReplacementCharacter));
        QVERIFY(Ticked(dialog, "cbVertMirror"));

        // Bandai's mirroring register changes only the mirror distance; the box follows it.
        MapperWrite(engine->machine(), 0x8009, 1);
        QVERIFY(!Ticked(TfrmROMProperty(engine->machine()), "cbVertMirror"));
        MapperWrite(engine->machine(), 0x8009, 0);
        QVERIFY(Ticked(TfrmROMProperty(engine->machine()), "cbVertMirror"));
    }

    void mappersBeyondSixteen_data() {
        QTest::addColumn<int>("mapper");
        QTest::addColumn<int>("chrPages");
        QTest::addColumn<QString>("mapping");
        // As for Bandai, the number shown is the low four bits of the mapper number.
        QTest::newRow("28") << 28 << 0 << "#28, Action 53";
        QTest::newRow("30") << 30 << 0 << "#30, UNROM 512";
        QTest::newRow("34 with pattern RAM") << 34 << 0 << "#34, BNROM";
        QTest::newRow("34 with 64 KB of CHR-ROM") << 34 << 8 << "#34, NINA-001";
        QTest::newRow("66") << 66 << 4 << "#66, GxROM";
        QTest::newRow("71") << 71 << 0 << "#71, Camerica";
        QTest::newRow("206") << 206 << 8 << "#206, Namco 108";
    }
    void mappersBeyondSixteen() {
        QFETCH(int, mapper);
        QFETCH(int, chrPages);
        QFETCH(QString, mapping);
        const auto engine = Start(BuildImage({.prgPages = 2,
                                              .chrPages = chrPages,
                                              .flags6 = uint8_t((mapper & 15) << 4 | 0x01),
                                              .flags7 = uint8_t(mapper & 0xF0)}));
        TfrmROMProperty dialog(engine->machine());
        QCOMPARE(Text(dialog, "edMapping"), mapping);
        // A single screen at power-on (Action 53) is not the header's vertical arrangement.
        QCOMPARE(Ticked(dialog, "cbVertMirror"), mapper != 28);
    }

    void expansionText_data() {
        QTest::addColumn<QByteArray>("bytes");  // header bytes 7-15
        QTest::addColumn<QString>("shown");
        QTest::newRow("nine-letter word") << QByteArray("Cartridge") << "Cartridge";
        QTest::newRow("zeros") << QByteArray(9, '\0') << "";
        QTest::newRow("stops at the first zero") << QByteArray("AB\0CDEFG", 8) << "AB";
        QTest::newRow("byte 7 zero hides the rest") << QByteArray("\0BCDEFGHI", 9) << "";
        QTest::newRow("non-printable byte")
            << QByteArray("Car\x07tridg") << QStringLiteral("Car\uFFFDtridg");
        QTest::newRow("high bytes") << QByteArray("\xFF\x80ok") << QStringLiteral("\uFFFD\uFFFDok");
    }
    void expansionText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const auto engine = Start(WithExpansion(BuildImage({}), bytes.toStdString()));
        TfrmROMProperty dialog(engine->machine());
        QCOMPARE(Text(dialog, "edEXpansion"), shown);
        QVERIFY(Text(dialog, "edEXpansion").size() <= 9);
    }

    void mirroringAfterMmc1Switch() {
        auto engine = Start(BuildImage({.prgPages = 2, .chrPages = 1, .flags6 = 0x11}));
        QVERIFY(Ticked(TfrmROMProperty(engine->machine()), "cbVertMirror"));
        Mmc1Write(engine->machine(), 0x8000, 0x0F);  // control: horizontal
        QVERIFY(!Ticked(TfrmROMProperty(engine->machine()), "cbVertMirror"));
        Mmc1Write(engine->machine(), 0x8000, 0x0E);  // control: vertical
        QVERIFY(Ticked(TfrmROMProperty(engine->machine()), "cbVertMirror"));
    }

    void headerFlags() {
        // Battery, trainer (512 bytes after the header) and four-screen bits.
        auto image = BuildImage({.flags6 = 0x0E});
        image.insert(image.begin() + 16, 512, 0);
        const auto engine = Start(image);
        TfrmROMProperty dialog(engine->machine());
        QVERIFY(!Ticked(dialog, "cbVertMirror"));
        QVERIFY(Ticked(dialog, "cbBattery"));
        QVERIFY(Ticked(dialog, "cbTrainer"));
        QVERIFY(Ticked(dialog, "cbFourScreen"));
    }

    void nothingCanBeChanged() {
        const auto engine = Start(BuildImage({.flags6 = 0x03}));
        TfrmROMProperty dialog(engine->machine());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QVERIFY(!Find<QFrame>(dialog, "pnlCheck")->isEnabled());
        auto* battery = Find<QCheckBox>(dialog, "cbBattery");
        QTest::mouseClick(battery, Qt::LeftButton);
        QVERIFY(battery->isChecked());

        // Every text field is read-only and out of the Tab order: Tab from OK stays on OK.
        for (const char* field :
             {"edFileName", "edHeader", "edProgPages", "edCharPages", "edMapping", "edEXpansion"}) {
            const auto* edit = Find<QLineEdit>(dialog, field);
            QVERIFY(edit->isReadOnly());
            QVERIFY(!(edit->focusPolicy() & Qt::TabFocus));
        }
        auto* ok = Find<QPushButton>(dialog, "btnOK");
        QVERIFY(ok->isDefault());
        ok->setFocus();
        QTest::keyClick(ok, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), ok);

        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.isHidden());
    }
};

QTEST_MAIN(RomPropertyDialogTest)
#include "rom_property_dialog_test.moc"
