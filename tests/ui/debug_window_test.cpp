// The debugger window under the offscreen platform, on small cartridges started through the
// engine and driven through the window's keys, mouse and boxes.
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <memory>
#include <vector>

#include "cartridge/engine.h"
#include "debugger/debug_window.h"
#include "unit/image_builder.h"

using namespace vexalo;

namespace {

// LDY #$10; DEY; BNE back to the DEY; INC $00 at $C005; JMP $C000.
const std::vector<uint8_t> kCountdown = {0xA0, 0x10, 0x88, 0xD0, 0xFD,
                                         0xE6, 0x00, 0x4C, 0x00, 0xC0};

// `code` placed at $C000 with each chunk of `chunks` at its own address above it (zeros,
// which list as BRK, in between).
std::vector<uint8_t> Program(std::vector<uint8_t> code,
                             const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& chunks) {
    for (const auto& [address, bytes] : chunks) {
        const size_t at = address - 0xC000u;
        if (code.size() < at + bytes.size()) code.resize(at + bytes.size(), 0);
        std::copy(bytes.begin(), bytes.end(), code.begin() + long(at));
    }
    return code;
}

template <class T>
T* Find(const QObject& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("the debugger has no %s", name);
    return child;
}

// The window of one opening, shown and active, as the main window shows it.
struct Debugger {
    TfrmDebug window;
    QTreeWidget* list;

    explicit Debugger(Engine& engine) : window(engine) {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) qFatal("the debugger did not become active");
        list = Find<QTreeWidget>(window, "DebugList");
    }

    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&window, Qt::Key(key), modifiers);
    }
    QString Box(const char* name) const { return Find<QLineEdit>(window, name)->text(); }

    QStringList Captions() const {
        QStringList captions;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            captions << list->topLevelItem(i)->text(0);
        return captions;
    }
    QTreeWidgetItem* Line(const QString& caption) const {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == caption) return list->topLevelItem(i);
        qFatal("no listing line %s", qPrintable(caption));
    }
    void Select(const QString& caption) { list->setCurrentItem(Line(caption)); }

    // The captions of the lines that carry the current-line state image.
    QStringList Marked() const {
        QStringList marked;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->data(0, kLineStateImageRole).toInt() != kNoStateImage)
                marked << list->topLevelItem(i)->text(0);
        }
        return marked;
    }
    QString Selected() const {
        const auto selected = list->selectedItems();
        return selected.size() == 1 ? selected.first()->text(0) : QString();
    }
    QStringList Breakpoints() const {
        QStringList lines;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->data(0, kLineImageRole).toInt() == kImageBreakpoint)
                lines << list->topLevelItem(i)->text(0);
        return lines;
    }
    bool Visible(const QString& caption) const {
        return list->viewport()->rect().contains(list->visualItemRect(Line(caption)));
    }
};

QString Hex4(uint16_t value) {
    return QString::asprintf("%04X", value);
}

}  // namespace

class DebugWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int images_ = 0;

    // An engine with `program` at $C000 started and suspended, as the main window leaves it
    // when it opens the debugger.
    std::unique_ptr<Engine> Start(const std::vector<uint8_t>& program) {
        test::ImageShape shape;
        shape.program = program;
        const auto image = test::BuildImage(shape);
        const QString path = dir_.filePath(QStringLiteral("debug%1.nes").arg(++images_));
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        auto engine = std::make_unique<Engine>();
        if (!engine->StartEngine(path.toStdString())) qFatal("the test cartridge did not start");
        engine->machine().running = false;
        return engine;
    }

   private slots:
    void openingListsEighteenLinesFromPcAndMarksIt() {
        auto engine = Start(kCountdown);
        engine->machine().cpu.S = 0xFD;
        Debugger d(*engine);
        QStringList expected = {"C000", "C002", "C003", "C005", "C007", "C00A"};
        for (int a = 0xC00B; expected.size() < 18; ++a) expected << Hex4(uint16_t(a));
        QCOMPARE(d.Captions(), expected);
        QCOMPARE(d.Line("C000")->text(1), QStringLiteral("LDY #10"));
        QCOMPARE(d.Line("C003")->text(1), QStringLiteral("BNE FD"));
        QCOMPARE(d.Line("C007")->text(1), QStringLiteral("JMP $C000"));
        QCOMPARE(d.Line("C00A")->text(1), QStringLiteral("RTI"));
        QCOMPARE(d.Line("C00B")->text(1), QStringLiteral("BRK"));
        QCOMPARE(d.Marked(), QStringList{"C000"});
        QCOMPARE(d.Selected(), QStringLiteral("C000"));
        QVERIFY(d.Breakpoints().isEmpty());
        // The registers after the reset, S as four digits.
        QCOMPARE(d.Box("edA"), QStringLiteral("00"));
        QCOMPARE(d.Box("edX"), QStringLiteral("00"));
        QCOMPARE(d.Box("edY"), QStringLiteral("00"));
        QCOMPARE(d.Box("edS"), QStringLiteral("00FD"));
        QCOMPARE(d.Box("edPC"), QStringLiteral("C000"));
        QVERIFY(Find<QCheckBox>(d.window, "cbZ")->isChecked());
        QVERIFY(Find<QCheckBox>(d.window, "cbR")->isChecked());
        QVERIFY(!Find<QCheckBox>(d.window, "cbC")->isChecked());
        QVERIFY(!Find<QCheckBox>(d.window, "cbN")->isChecked());
    }

    void theToolbarStepsAndTheDisabledCommandsDoNothing() {
        auto engine = Start(kCountdown);
        Debugger d(*engine);
        QVERIFY(!Find<QToolButton>(d.window, "spSkip")->isEnabled());
        // The keys of Skip and Run to cursor do nothing; the toolbar's Step Over steps.
        d.Press(Qt::Key_F8, Qt::ShiftModifier);
        d.Press(Qt::Key_F4);
        QCOMPARE(engine->machine().cpu.PC, 0xC000);
        QTest::mouseClick(Find<QToolButton>(d.window, "spStep"), Qt::LeftButton);
        QCOMPARE(engine->machine().cpu.PC, 0xC002);
        QCOMPARE(d.Box("edY"), QStringLiteral("10"));
    }

    void stepOverEntersASubroutineAndListsIt() {
        // JSR $C100 at $C000; the subroutine loads A and returns.
        auto engine = Start(Program({0x20, 0x00, 0xC1}, {{0xC100, {0xA9, 0x05, 0x60}}}));
        const Machine& m = engine->machine();
        Debugger d(*engine);
        d.Press(Qt::Key_F8);
        QCOMPARE(m.cpu.PC, 0xC100);
        QCOMPARE(m.cpu.S, 0xFD);
        QCOMPARE(m.internalRam[0x1FF], 0xC0);  // the JSR's last byte, $C002
        QCOMPARE(m.internalRam[0x1FE], 0x02);
        QCOMPARE(d.Box("edPC"), QStringLiteral("C100"));
        QCOMPARE(d.Box("edS"), QStringLiteral("00FD"));
        QCOMPARE(d.list->topLevelItemCount(), 36);
        QCOMPARE(d.Captions().mid(18, 3), (QStringList{"C100", "C102", "C103"}));
        QCOMPARE(d.Line("C100")->text(1), QStringLiteral("LDA #05"));
        QCOMPARE(d.Marked(), QStringList{"C100"});
        QCOMPARE(d.Selected(), QStringLiteral("C100"));
        // Within the listed lines nothing is added; the return comes back to $C003.
        d.Press(Qt::Key_F8);
        d.Press(Qt::Key_F8);
        QCOMPARE(m.cpu.PC, 0xC003);
        QCOMPARE(d.Box("edA"), QStringLiteral("05"));
        QCOMPARE(d.list->topLevelItemCount(), 36);
        QCOMPARE(d.Marked(), QStringList{"C003"});
    }

    void aBatchStopsAtTheFirstListedAddressAndKeepsAddressOrder() {
        // JMP $C040; at $C040 JMP $C030, whose batch runs into the listed $C040.
        auto engine = Start(Program({0x4C, 0x40, 0xC0}, {{0xC040, {0x4C, 0x30, 0xC0}}}));
        Debugger d(*engine);
        QCOMPARE(d.list->topLevelItemCount(), 18);
        d.Press(Qt::Key_F8);
        QCOMPARE(d.list->topLevelItemCount(), 36);
        d.Press(Qt::Key_F8);
        QCOMPARE(engine->machine().cpu.PC, 0xC030);
        QCOMPARE(d.list->topLevelItemCount(), 36 + 16);
        QStringList expected = {"C000"};
        for (int a = 0xC003; a <= 0xC013; ++a) expected << Hex4(uint16_t(a));
        for (int a = 0xC030; a <= 0xC040; ++a) expected << Hex4(uint16_t(a));
        for (int a = 0xC043; a <= 0xC053; ++a) expected << Hex4(uint16_t(a));
        QCOMPARE(d.Captions(), expected);
        QCOMPARE(d.Marked(), QStringList{"C030"});
    }

    void aRunStopsOnABreakpointWithTheLineSelectedAndVisible() {
        // Opened at a JMP $C000 at $C100, so that the listing is longer than the list's height.
        auto engine = Start(Program(kCountdown, {{0xC100, {0x4C, 0x00, 0xC0}}}));
        const Machine& m = engine->machine();
        engine->machine().cpu.PC = 0xC100;
        Debugger d(*engine);
        d.Press(Qt::Key_F8);
        QCOMPARE(d.list->topLevelItemCount(), 36);
        d.Select("C005");
        d.Press(Qt::Key_F5);
        QCOMPARE(d.Breakpoints(), QStringList{"C005"});
        d.list->scrollToBottom();
        QVERIFY(!d.Visible("C005"));
        d.Press(Qt::Key_F9);
        QCOMPARE(m.cpu.PC, 0xC005);
        QCOMPARE(m.cpu.Y, 0);
        QCOMPARE(m.internalRam[0], 0);
        QCOMPARE(d.Selected(), QStringLiteral("C005"));
        QVERIFY(d.Visible("C005"));
        QCOMPARE(d.Marked(), QStringList{"C005"});
        QCOMPARE(d.Line("C005")->data(0, kLineImageRole).toInt(), int(kImageBreakpoint));
        QCOMPARE(d.Box("edPC"), QStringLiteral("C005"));
        QCOMPARE(d.Box("edY"), QStringLiteral("00"));
        QVERIFY(d.list->updatesEnabled());
        QCOMPARE(d.list->cursor().shape(), Qt::ArrowCursor);
        // Started on the breakpoint, a Run leaves it and stops there on the next round.
        d.Press(Qt::Key_F9);
        QCOMPARE(m.cpu.PC, 0xC005);
        QCOMPARE(m.internalRam[0], 1);
        QCOMPARE(d.Marked(), QStringList{"C005"});
        // Leaving the breakpoint line keeps its breakpoint image.
        d.Press(Qt::Key_F8);
        QCOMPARE(d.Marked(), QStringList{"C007"});
        QCOMPARE(d.Breakpoints(), QStringList{"C005"});
    }

    void aRunListsWhatItPassesAsStepsWould() {
        // $C000 -> $C100 -> $C080 -> $C0F8 -> $C000, with the breakpoint on $C000.
        const auto program = Program({0x4C, 0x00, 0xC1}, {{0xC080, {0x4C, 0xF8, 0xC0}},
                                                          {0xC0F8, {0x4C, 0x00, 0xC0}},
                                                          {0xC100, {0x4C, 0x80, 0xC0}}});
        auto stepped = Start(program);
        Debugger s(*stepped);
        for (int i = 0; i < 4; ++i) s.Press(Qt::Key_F8);
        QCOMPARE(stepped->machine().cpu.PC, 0xC000);

        auto run = Start(program);
        Debugger r(*run);
        r.Press(Qt::Key_F5);  // on the current line
        r.Press(Qt::Key_F9);
        QCOMPARE(run->machine().cpu.PC, 0xC000);
        QCOMPARE(r.Captions(), s.Captions());
        QCOMPARE(r.list->topLevelItemCount(), 18 + 18 + 18 + 6);
        QCOMPARE(r.Marked(), QStringList{"C000"});
        QCOMPARE(r.Line("C000")->data(0, kLineImageRole).toInt(), int(kImageBreakpoint));
    }

    void pauseOrClosingEndsARunAndResetStopsIt() {
        auto engine = Start({0x4C, 0x00, 0xC0});  // JMP $C000 for ever
        const Machine& m = engine->machine();
        {
            Debugger d(*engine);
            QTimer::singleShot(100, &d.window, [&d] { d.Press(Qt::Key_F2); });
            d.Press(Qt::Key_F9);
            QVERIFY(m.framesCompleted > 0);
            QCOMPARE(m.cpu.PC, 0xC000);
            QCOMPARE(d.Marked(), QStringList{"C000"});
            QVERIFY(d.list->updatesEnabled());
            QVERIFY(d.window.isVisible());

            QTimer::singleShot(100, &d.window, [&d] { d.Press(Qt::Key_F2, Qt::ControlModifier); });
            d.Press(Qt::Key_F9);
            QCOMPARE(m.log.Lines().back(), std::string("Resetting 6502 engine ..."));
            QCOMPARE(d.Marked(), QStringList{"C000"});

            QTimer::singleShot(100, &d.window, [&d] { d.window.close(); });
            d.Press(Qt::Key_F9);
            QVERIFY(!d.window.isVisible());
        }
    }

    void breakpointsToggleWhateverTheOrder() {
        auto engine = Start(kCountdown);
        Debugger d(*engine);
        d.Select("C002");
        d.Press(Qt::Key_F5);
        d.Select("C007");
        d.Press(Qt::Key_F5);
        QCOMPARE(d.Breakpoints(), (QStringList{"C002", "C007"}));
        d.Select("C002");
        d.Press(Qt::Key_F5);
        QCOMPARE(d.Breakpoints(), QStringList{"C007"});
        d.Select("C007");
        d.Press(Qt::Key_F5);
        QVERIFY(d.Breakpoints().isEmpty());
        // On the current line the mark stays; without a selection F5 does nothing.
        d.Select("C000");
        d.Press(Qt::Key_F5);
        QCOMPARE(d.Breakpoints(), QStringList{"C000"});
        QCOMPARE(d.Marked(), QStringList{"C000"});
        d.list->clearSelection();
        d.Press(Qt::Key_F5);
        QCOMPARE(d.Breakpoints(), QStringList{"C000"});
    }

    void typedRegistersApplyAtOnce() {
        auto engine = Start({0xEA, 0xEA, 0xEA});  // NOPs
        CpuState& cpu = engine->machine().cpu;
        Debugger d(*engine);
        auto* edA = Find<QLineEdit>(d.window, "edA");
        auto type = [&](QLineEdit* box, const char* text) {
            box->selectAll();
            QTest::keyClicks(box, QString::fromLatin1(text));
        };
        type(edA, "1F");
        QCOMPARE(cpu.A, 0x1F);
        type(edA, "ZZ");
        QCOMPARE(cpu.A, 0);
        type(edA, "1FF");
        QCOMPARE(cpu.A, 0xFF);
        type(edA, "$3c");
        QCOMPARE(cpu.A, 0x3C);
        type(Find<QLineEdit>(d.window, "edX"), "7");
        QCOMPARE(cpu.X, 0x07);
        // Y, S and PC are shown, not written back; the next refresh shows the registers.
        type(Find<QLineEdit>(d.window, "edY"), "44");
        type(Find<QLineEdit>(d.window, "edPC"), "1234");
        QCOMPARE(cpu.Y, 0);
        QCOMPARE(cpu.PC, 0xC000);
        d.Press(Qt::Key_F8);
        QCOMPARE(cpu.A, 0x3C);
        QCOMPARE(d.Box("edA"), QStringLiteral("3C"));
        QCOMPARE(d.Box("edX"), QStringLiteral("07"));
        QCOMPARE(d.Box("edY"), QStringLiteral("00"));
        QCOMPARE(d.Box("edPC"), QStringLiteral("C001"));
    }

    void flagBoxesSetAndClearTheirBits() {
        auto engine = Start({0x38, 0xEA});  // SEC; NOP
        CpuState& cpu = engine->machine().cpu;
        cpu.P = 0x80;
        Debugger d(*engine);
        auto* cbN = Find<QCheckBox>(d.window, "cbN");
        auto* cbR = Find<QCheckBox>(d.window, "cbR");
        QVERIFY(cbN->isChecked());
        QVERIFY(!cbR->isChecked());
        QTest::mouseClick(cbN, Qt::LeftButton);
        QCOMPARE(cpu.P, 0x00);
        QTest::mouseClick(cbR, Qt::LeftButton);
        QCOMPARE(cpu.P, 0x20);
        const char* const names[] = {"cbC", "cbZ", "cbI", "cbD", "cbB", "cbR", "cbV", "cbN"};
        for (int bit = 0; bit < 8; ++bit) {
            QTest::mouseClick(Find<QCheckBox>(d.window, names[bit]), Qt::LeftButton);
            QCOMPARE(cpu.P, uint8_t(0x20 ^ (1 << bit)));
            QTest::mouseClick(Find<QCheckBox>(d.window, names[bit]), Qt::LeftButton);
            QCOMPARE(cpu.P, 0x20);
        }
        // A step shows the flags the instruction left.
        d.Press(Qt::Key_F8);
        QCOMPARE(cpu.P, 0x21);
        QVERIFY(Find<QCheckBox>(d.window, "cbC")->isChecked());
        QVERIFY(cbR->isChecked());
        QVERIFY(!cbN->isChecked());
    }

    void resetRunsTheFirstInstructionAtTheResetVector() {
        auto engine = Start({0xA2, 0xFF, 0xE8, 0xE8, 0xE8});  // LDX #$FF; INX; INX; INX
        const Machine& m = engine->machine();
        Debugger d(*engine);
        for (int i = 0; i < 3; ++i) d.Press(Qt::Key_F8);
        QCOMPARE(m.cpu.PC, 0xC004);
        QCOMPARE(m.cpu.X, 0x01);
        d.Press(Qt::Key_F2, Qt::ControlModifier);
        QCOMPARE(m.cpu.PC, 0xC002);
        QCOMPARE(m.cpu.X, 0xFF);
        QCOMPARE(m.cpu.S, 0xFF);
        QCOMPARE(m.log.Lines().back(), std::string("Resetting 6502 engine ..."));
        QCOMPARE(d.Marked(), QStringList{"C002"});
        QCOMPARE(d.Box("edX"), QStringLiteral("FF"));
        QCOMPARE(d.Box("edPC"), QStringLiteral("C002"));
    }

    void pauseOutsideARunChangesNothing() {
        auto engine = Start(kCountdown);
        const Machine& m = engine->machine();
        Debugger d(*engine);
        d.Press(Qt::Key_F8);
        d.Press(Qt::Key_F2);
        QCOMPARE(m.cpu.PC, 0xC002);
        QCOMPARE(d.Marked(), QStringList{"C002"});
        d.Press(Qt::Key_F8);
        QCOMPARE(m.cpu.PC, 0xC003);
        // A Run after a Pause runs to the breakpoint, not just one instruction.
        d.Select("C005");
        d.Press(Qt::Key_F5);
        d.Press(Qt::Key_F2);
        d.Press(Qt::Key_F9);
        QCOMPARE(m.cpu.PC, 0xC005);
        QCOMPARE(m.cpu.Y, 0);
    }

    void doubleClickMovesPc() {
        auto engine = Start(kCountdown);
        const Machine& m = engine->machine();
        Debugger d(*engine);
        const QRect line = d.list->visualItemRect(d.Line("C007"));
        QTest::mouseClick(d.list->viewport(), Qt::LeftButton, {}, line.center());
        QTest::mouseDClick(d.list->viewport(), Qt::LeftButton, {}, line.center());
        QCOMPARE(m.cpu.PC, 0xC007);
        QCOMPARE(d.Box("edPC"), QStringLiteral("C007"));
        QCOMPARE(d.Marked(), QStringList{"C007"});
        d.Press(Qt::Key_F8);
        QCOMPARE(m.cpu.PC, 0xC000);  // the JMP at $C007 ran
        QCOMPARE(d.Marked(), QStringList{"C000"});
    }

    void theListingReadsNoIoRegister() {
        // LDA $nnnn at $1FFE, its operand's high byte at $2000.
        auto engine = Start(kCountdown);
        Machine& m = engine->machine();
        m.internalRam[0x7FE] = 0xAD;
        m.internalRam[0x7FF] = 0x34;
        m.cpu.PC = 0x1FFE;
        const size_t logLines = m.log.Lines().size();
        Debugger d(*engine);
        QCOMPARE(d.Line("1FFE")->text(1), QStringLiteral("LDA $FF34"));
        // The I/O area lists as $FF bytes: ISC $FFFF,X, three bytes each.
        QCOMPARE(d.Line("2001")->text(1), QStringLiteral("ISC $FFFF, X"));
        QCOMPARE(d.Line("2004")->text(1), QStringLiteral("ISC $FFFF, X"));
        QCOMPARE(d.list->topLevelItemCount(), 18);
        QCOMPARE(m.log.Lines().size(), logLines);  // no "Ignore read at address $2000"
    }

    void reopeningStartsAnEmptyListingAtPc() {
        auto engine = Start(kCountdown);
        {
            Debugger first(*engine);
            first.Select("C003");
            first.Press(Qt::Key_F5);
            first.Press(Qt::Key_F8);
            first.window.close();
        }
        Debugger second(*engine);
        QCOMPARE(second.list->topLevelItemCount(), 18);
        QCOMPARE(second.Captions().first(), QStringLiteral("C002"));
        QVERIFY(second.Breakpoints().isEmpty());
        QCOMPARE(second.Marked(), QStringList{"C002"});
    }
};

QTEST_MAIN(DebugWindowTest)
#include "debug_window_test.moc"
