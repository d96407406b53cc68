#include "debugger/debug_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <utility>

#include "cartridge/engine.h"
#include "core/cpu.h"
#include "debugger/disassembler.h"
#include "machine/bus.h"

namespace vexalo {

namespace {

// A Run lets the window handle its events (Pause, Reset, closing, edits) and shows the
// registers once per time slice instead of after every instruction; the clock is read once
// every kStepsPerClockRead steps.
constexpr qint64 kSliceMs = 10;
constexpr uint32_t kStepsPerClockRead = 256;

constexpr int kImageSize = 12;  // one listing image; a line's icon holds two side by side
constexpr int kImageGap = 2;

// The listing reads memory without side effects: in the I/O area ($2000-$5FFF) it sees $FF
// bytes rather than reading the picture processor's or the joypads' registers, which would
// change them under the program and log unmapped reads. Elsewhere both reads are the same.
struct ListingBus {
    MachineBus bus;
    uint8_t FetchByte(uint16_t address) const { return bus.FetchByte(address); }
    uint8_t ReadByte(uint16_t address) const { return bus.FetchByte(address); }
};

QString Hex(unsigned value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

// A register box's text as a byte: its low byte when it reads as a hexadecimal number (a
// leading $ allowed), 0 otherwise.
uint8_t ParseHexByte(const QString& text) {
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1Char('$'))) digits.remove(0, 1);
    bool ok = false;
    const unsigned value = digits.toUInt(&ok, 16);
    return ok ? uint8_t(value) : 0;
}

// A transparent pixmap of `w` x `h` logical pixels, sharp on high-density screens.
QPixmap Canvas(int w, int h) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap(qRound(w * ratio), qRound(h * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Listing images: 0 an ordinary line (a faint dot), 1 a breakpoint (a red disc), 2 the current
// line (an amber arrow).
void DrawListingImage(QPainter& p, int image, qreal x) {
    const qreal s = kImageSize;
    switch (image) {
        case kImageLine:
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(160, 160, 160));
            p.drawEllipse(QPointF(x + s / 2, s / 2), 1.5, 1.5);
            break;
        case kImageBreakpoint:
            p.setPen(QPen(QColor(140, 0, 0), 1));
            p.setBrush(QColor(220, 40, 40));
            p.drawEllipse(QPointF(x + s / 2, s / 2), s / 2 - 1, s / 2 - 1);
            break;
        case kImageCurrent: {
            const QPointF arrow[] = {{x + 1, 3.5},  {x + 6, 3.5}, {x + 6, 0.5}, {x + 11.5, 6},
                                     {x + 6, 11.5}, {x + 6, 8.5}, {x + 1, 8.5}};
            p.setPen(QPen(QColor(130, 95, 0), 1));
            p.setBrush(QColor(250, 200, 30));
            p.drawPolygon(arrow, int(std::size(arrow)));
            break;
        }
        default: break;
    }
}

// A line's icon: the state image (or nothing) at the left, the image index at the right.
QIcon LineIcon(int image, bool current) {
    QPixmap pixmap = Canvas(2 * kImageSize + kImageGap, kImageSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (current) DrawListingImage(p, kImageCurrent, 0);
    DrawListingImage(p, image, kImageSize + kImageGap);
    return QIcon(pixmap);
}

// The toolbar's glyphs, 16 x 16.
enum class Glyph { Run, Pause, StepOver, Skip };

QIcon GlyphIcon(Glyph glyph) {
    QPixmap pixmap = Canvas(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(30, 90, 190);
    switch (glyph) {
        case Glyph::Run: {
            const QPointF play[] = {{4, 2}, {14, 8}, {4, 14}};
            p.setPen(QPen(QColor(20, 110, 40), 1));
            p.setBrush(QColor(50, 170, 70));
            p.drawPolygon(play, 3);
            break;
        }
        case Glyph::Pause:
            p.setPen(Qt::NoPen);
            p.setBrush(blue);
            p.drawRect(QRectF(3.5, 2.5, 3.5, 11));
            p.drawRect(QRectF(9, 2.5, 3.5, 11));
            break;
        case Glyph::StepOver: {
            // An arc over the next line, landing beside it.
            QPainterPath arc;
            arc.moveTo(2.5, 9);
            arc.cubicTo(2.5, 1.5, 12.5, 1.5, 12.5, 7);
            p.setPen(QPen(blue, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawPath(arc);
            const QPointF head[] = {{9.5, 7}, {15.5, 7}, {12.5, 11}};
            p.setPen(Qt::NoPen);
            p.setBrush(blue);
            p.drawPolygon(head, 3);
            p.drawEllipse(QPointF(5, 13.5), 1.8, 1.8);
            break;
        }
        case Glyph::Skip: {
            const QPointF first[] = {{1.5, 3}, {7.5, 8}, {1.5, 13}};
            const QPointF second[] = {{7, 3}, {13, 8}, {7, 13}};
            p.setPen(Qt::NoPen);
            p.setBrush(blue);
            p.drawPolygon(first, 3);
            p.drawPolygon(second, 3);
            p.drawRect(QRectF(13, 3, 2, 10));
            break;
        }
    }
    return QIcon(pixmap);
}

}  // namespace

TfrmDebug::TfrmDebug(Engine& engine, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint),
      engine_(engine),
      machine_(engine.machine()),
      lines_(0x10000, nullptr) {
    setObjectName(QStringLiteral("frmDebug"));
    setWindowTitle(QStringLiteral("Debug"));
    for (int image : {kImageLine, kImageBreakpoint})
        for (bool current : {false, true}) lineIcons_[image][current] = LineIcon(image, current);

    // The Debug and View menus. Every command is also a window shortcut, so its key works
    // wherever the focus is.
    auto* menuBar = new QMenuBar(this);
    auto command = [this](QMenu* menu, const char* name, const char* caption,
                          const QKeySequence& key, void (TfrmDebug::*handler)()) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        if (handler) {
            connect(action, &QAction::triggered, this, handler);
        } else {
            action->setEnabled(false);
        }
        addAction(action);
        return action;
    };
    QMenu* debug = menuBar->addMenu(QStringLiteral("Debug"));
    debug->setObjectName(QStringLiteral("Debug1"));
    Run1 = command(debug, "Run1", "Run", Qt::Key_F9, &TfrmDebug::Run1Click);
    StepOver1 = command(debug, "StepOver1", "Step Over", Qt::Key_F8, &TfrmDebug::StepOver1Click);
    Skip1 = command(debug, "Skip1", "Skip", Qt::SHIFT | Qt::Key_F8, nullptr);
    command(debug, "Runtocursor1", "Run to cursor", Qt::Key_F4, nullptr);
    debug->addSeparator();
    Pause1 = command(debug, "Pause1", "Pause", Qt::Key_F2, &TfrmDebug::Pause1Click);
    command(debug, "Reset1", "Reset", Qt::CTRL | Qt::Key_F2, &TfrmDebug::Reset1Click);
    debug->addSeparator();
    command(debug, "Breakpoints1", "Breakpoints", Qt::Key_F5, &TfrmDebug::Breakpoints1Click);
    command(debug, "ViewBreakpoints1", "View Breakpoints", {}, nullptr);
    QMenu* view = menuBar->addMenu(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("View1"));
    command(view, "mnuPattern", "Pattern Tables", {}, nullptr);
    command(view, "mnuName", "Name Tables", {}, nullptr);
    command(view, "mnuPalette", "Palette", {}, nullptr);
    command(view, "mnuWave", "Wave output", {}, nullptr);
    Run1->setIcon(GlyphIcon(Glyph::Run));
    Pause1->setIcon(GlyphIcon(Glyph::Pause));
    StepOver1->setIcon(GlyphIcon(Glyph::StepOver));
    Skip1->setIcon(GlyphIcon(Glyph::Skip));

    // The listing: address and instruction text, whole rows selected, the selection still shown
    // when the list loses the focus.
    DebugList = new QTreeWidget;
    DebugList->setObjectName(QStringLiteral("DebugList"));
    DebugList->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Opcode")});
    DebugList->setRootIsDecorated(false);
    DebugList->setItemsExpandable(false);
    DebugList->setUniformRowHeights(true);
    DebugList->setAllColumnsShowFocus(true);
    DebugList->setSelectionMode(QAbstractItemView::SingleSelection);
    DebugList->setSelectionBehavior(QAbstractItemView::SelectRows);
    DebugList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DebugList->setIconSize(QSize(2 * kImageSize + kImageGap, kImageSize));
    DebugList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    DebugList->header()->setSectionsMovable(false);
    DebugList->header()->setFont(font());
    QPalette listPalette = DebugList->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        listPalette.setColor(QPalette::Inactive, role, listPalette.color(QPalette::Active, role));
    DebugList->setPalette(listPalette);
    // "Address" holds the icon and four digits, "Opcode" (which fills the rest) the longest
    // instruction text beside the vertical scroll bar, so no line is ever cut off.
    const QFontMetrics listMetrics(DebugList->font());
    const int addressWidth =
        std::max(75, DebugList->iconSize().width() +
                         listMetrics.horizontalAdvance(QStringLiteral("FFFF")) + 20);
    const int opcodeWidth =
        std::max(171, listMetrics.horizontalAdvance(QStringLiteral("ORA ($FF), Y")) + 24);
    DebugList->setColumnWidth(0, addressWidth);
    DebugList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DebugList->setFixedSize(addressWidth + opcodeWidth +
                                2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                                style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                            272);
    connect(DebugList, &QTreeWidget::itemDoubleClicked, this, [this] { DebugListDblClick(); });

    auto* body = new QHBoxLayout;
    body->setContentsMargins(4, 4, 4, 4);
    body->setSpacing(8);
    body->addWidget(DebugList);
    body->addWidget(BuildRegisters());

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->setSizeConstraint(QLayout::SetFixedSize);  // not resizable
    root->setMenuBar(menuBar);
    root->addWidget(BuildToolbar());
    auto* rule = new QFrame;
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    root->addWidget(rule);
    root->addLayout(body);
    root->addWidget(BuildStatusBar());
}

TfrmDebug::~TfrmDebug() = default;

QWidget* TfrmDebug::BuildToolbar() {
    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(28);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(3, 1, 3, 1);
    row->setSpacing(1);
    // Flat buttons; each shows its command's caption as its hint.
    const std::pair<const char*, QAction*> buttons[] = {
        {"spRun", Run1}, {"spPause", Pause1}, {"spStep", StepOver1}, {"spSkip", Skip1}};
    for (const auto& [name, action] : buttons) {
        auto* button = new QToolButton;
        button->setObjectName(QLatin1String(name));
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setFixedSize(25, 25);
        button->setIconSize(QSize(16, 16));
        row->addWidget(button);
    }
    row->addStretch();
    return panel;
}

QWidget* TfrmDebug::BuildRegisters() {
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(6);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // A label and its edit box, at least `width` wide and wide enough for `digits` digits
    // and one more, so that a typed value is seen whole.
    auto addRegister = [&](QHBoxLayout* row, const char* labelName, const char* caption,
                           const char* editName, int width, int digits) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QLatin1String(editName));
        edit->setFont(fixed);
        const int textWidth =
            QFontMetrics(fixed).horizontalAdvance(QString(digits + 1, QLatin1Char('0')));
        edit->setFixedWidth(std::max(width, textWidth + 10));
        auto* label = new QLabel(QString::fromLatin1(caption));
        label->setObjectName(QLatin1String(labelName));
        label->setBuddy(edit);
        row->addWidget(label);
        row->addWidget(edit);
        return edit;
    };
    auto* bytes = new QHBoxLayout;
    edA = addRegister(bytes, "lblA", "A", "edA", 25, 2);
    bytes->addSpacing(4);
    edX = addRegister(bytes, "lblX", "X", "edX", 25, 2);
    bytes->addSpacing(4);
    edY = addRegister(bytes, "lblY", "Y", "edY", 25, 2);
    bytes->addStretch();
    auto* words = new QHBoxLayout;
    edS = addRegister(words, "lblS", "S", "edS", 64, 4);
    words->addSpacing(4);
    edPC = addRegister(words, "lblPC", "PC", "edPC", 64, 4);
    words->addStretch();
    layout->addLayout(bytes);
    layout->addLayout(words);
    connect(edA, &QLineEdit::textChanged, this, [this] { edAChange(); });
    connect(edX, &QLineEdit::textChanged, this, [this] { edXChange(); });

    auto* gbP = new QGroupBox(QStringLiteral("Processor Status"));
    gbP->setObjectName(QStringLiteral("gbP"));
    auto* flags = new QVBoxLayout(gbP);
    flags->setSpacing(2);
    const char* const flagNames[8][2] = {{"cbC", "0 - CARRY"},       {"cbZ", "1 - ZERO"},
                                         {"cbI", "2 - IRQ DISABLE"}, {"cbD", "3 - DECIMAL MODE"},
                                         {"cbB", "4 - BRK COMMAND"}, {"cbR", "5 - NOT USED"},
                                         {"cbV", "6 - OVERFLOW"},    {"cbN", "7 - NEGATIVE"}};
    for (int bit = 0; bit < 8; ++bit) {
        auto* box = new QCheckBox(QString::fromLatin1(flagNames[bit][1]));
        box->setObjectName(QLatin1String(flagNames[bit][0]));
        connect(box, &QCheckBox::toggled, this,
                [this, bit](bool checked) { cbFlagClick(bit, checked); });
        flags->addWidget(box);
        flagBoxes_[size_t(bit)] = box;
    }
    layout->addWidget(gbP);

    auto* lblInterrupt = new QLabel;
    lblInterrupt->setObjectName(QStringLiteral("lblInterrupt"));
    QPalette red = lblInterrupt->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lblInterrupt->setPalette(red);
    layout->addWidget(lblInterrupt);
    layout->addStretch();
    return column;
}

QWidget* TfrmDebug::BuildStatusBar() {
    auto* bar = new QStatusBar;
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    const std::pair<const char*, int> panels[] = {
        {"F9 Run", 75}, {"F8 Step Over", 75}, {"F5 Breakpoint", 75}, {"F2 Pause", 75}, {"", 50}};
    for (const auto& [text, width] : panels) {
        auto* panel = new QLabel(QString::fromLatin1(text));
        panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        panel->setContentsMargins(3, 0, 3, 0);
        panel->setFixedWidth(
            std::max(width, panel->fontMetrics().horizontalAdvance(panel->text()) + 16));
        bar->addWidget(panel);
    }
    return bar;
}

void TfrmDebug::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;  // restored from a minimised state: nothing to do
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    StopRequested = false;
    RefreshRegisters();
    FillListing(machine_.cpu.PC);
}

void TfrmDebug::done(int result) {
    StopRequested = true;
    QDialog::done(result);
}

void TfrmDebug::RefreshRegisters() {
    const CpuState& cpu = machine_.cpu;
    refreshing_ = true;
    edA->setText(Hex(cpu.A, 2));
    edX->setText(Hex(cpu.X, 2));
    edY->setText(Hex(cpu.Y, 2));
    edPC->setText(Hex(cpu.PC, 4));
    edS->setText(Hex(cpu.S, 4));
    for (int bit = 0; bit < 8; ++bit) flagBoxes_[size_t(bit)]->setChecked(cpu.P >> bit & 1);
    refreshing_ = false;
}

void TfrmDebug::GoToAddress(uint16_t address) {
    if (QTreeWidgetItem* line = lines_[address]) {
        MarkCurrentLine(line);
    } else {
        FillListing(address);
    }
}

void TfrmDebug::FillListing(uint16_t address) {
    // A Run keeps the list's updates suspended until it ends; a batch does not resume them.
    const bool updating = DebugList->updatesEnabled();
    DebugList->setUpdatesEnabled(false);
    AddListingLines(address);
    DebugList->setUpdatesEnabled(updating);
    MarkCurrentLine(lines_[address]);
}

// Adds up to ListingLineCount lines from `address`, stopping at the first address that is
// already listed; each goes in at its place in address order.
void TfrmDebug::AddListingLines(uint16_t address) {
    const ListingBus bus{MachineBus{machine_}};
    std::string text;
    for (int pass = 0; pass < ListingLineCount && !lines_[address]; ++pass) {
        const uint16_t lineAddress = address;
        DisassembleAt(bus, address, text);
        auto* line = new QTreeWidgetItem({Hex(lineAddress, 4), QString::fromLatin1(text.c_str())});
        line->setData(0, kLineAddressRole, lineAddress);
        SetLineImages(line, false);
        int first = 0, last = DebugList->topLevelItemCount();
        while (first < last) {
            const int middle = (first + last) / 2;
            if (DebugList->topLevelItem(middle)->data(0, kLineAddressRole).toInt() < lineAddress) {
                first = middle + 1;
            } else {
                last = middle;
            }
        }
        DebugList->insertTopLevelItem(first, line);
        lines_[lineAddress] = line;
    }
}

void TfrmDebug::MarkCurrentLine(QTreeWidgetItem* line) {
    if (previousCurrentLine_) SetLineImages(previousCurrentLine_, false);
    if (!line) return;
    DebugList->setCurrentItem(line);
    SetLineImages(line, true);
    DebugList->scrollToItem(line, QAbstractItemView::EnsureVisible);
    previousCurrentLine_ = line;
}

void TfrmDebug::SetLineImages(QTreeWidgetItem* line, bool current) {
    const uint16_t address = uint16_t(line->data(0, kLineAddressRole).toUInt());
    const int image = BreakpointList[address] ? kImageBreakpoint : kImageLine;
    line->setData(0, kLineImageRole, image);
    line->setData(0, kLineStateImageRole, current ? kImageCurrent : kNoStateImage);
    line->setIcon(0, lineIcons_[image][current]);
}

QTreeWidgetItem* TfrmDebug::SelectedLine() const {
    const QList<QTreeWidgetItem*> selected = DebugList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void TfrmDebug::StepOver1Click() {
    if (runActive_) return;
    StopRequested = false;
    MachineBus bus{machine_};
    GoToAddress(CpuDebugStep(machine_.cpu, bus));
    RefreshRegisters();
}

void TfrmDebug::Run1Click() {
    if (runActive_) return;
    runActive_ = true;
    StopRequested = false;
    DebugList->setCursor(Qt::WaitCursor);
    DebugList->setUpdatesEnabled(false);
    if (!RunUntilStopped()) return;
    DebugList->setUpdatesEnabled(true);
    DebugList->unsetCursor();
    if (QTreeWidgetItem* line = SelectedLine()) DebugList->scrollToItem(line);
    runActive_ = false;
}

// Steps until `PC` lands on a breakpoint line or a command asks to stop, at least once. The
// current-line mark and the registers are what they would be if each step had updated them:
// new lines are added as execution reaches unlisted addresses, and the mark and the register
// boxes are brought up to date before every event slice and at the end. The listing's
// updates are suspended meanwhile, so only the register boxes show the difference.
bool TfrmDebug::RunUntilStopped() {
    QPointer<TfrmDebug> alive(this);
    CpuState& cpu = machine_.cpu;
    MachineBus bus{machine_};
    QElapsedTimer slice;
    slice.start();
    uint16_t pc = cpu.PC;
    bool shown = true;  // the mark and the registers show the last step
    for (uint32_t steps = 1;; ++steps) {
        pc = CpuDebugStep(cpu, bus);
        if (!lines_[pc]) AddListingLines(pc);
        shown = false;
        if (BreakpointList[pc] || StopRequested) break;
        if (steps % kStepsPerClockRead == 0 && slice.elapsed() >= kSliceMs) {
            MarkCurrentLine(lines_[pc]);
            RefreshRegisters();
            shown = true;
            QCoreApplication::processEvents();
            if (!alive) return false;
            // The user may have selected another line meanwhile: a breakpoint there stops too.
            const QTreeWidgetItem* selected = SelectedLine();
            if (StopRequested ||
                (selected && BreakpointList[selected->data(0, kLineAddressRole).toUInt()]))
                break;
            slice.restart();
        }
    }
    StopRequested = true;
    if (!shown) {
        MarkCurrentLine(lines_[pc]);
        RefreshRegisters();
    }
    return true;
}

void TfrmDebug::Pause1Click() {
    StopRequested = true;
}

void TfrmDebug::Reset1Click() {
    StopRequested = true;
    engine_.ResetEngine();
    MachineBus bus{machine_};
    GoToAddress(CpuDebugStep(machine_.cpu, bus));
    RefreshRegisters();
}

void TfrmDebug::Breakpoints1Click() {
    QTreeWidgetItem* line = SelectedLine();
    if (!line) return;
    BreakpointList.flip(line->data(0, kLineAddressRole).toUInt());
    SetLineImages(line, line == previousCurrentLine_);
}

void TfrmDebug::DebugListDblClick() {
    QTreeWidgetItem* line = SelectedLine();
    if (!line) return;
    machine_.cpu.PC = uint16_t(line->data(0, kLineAddressRole).toUInt());
    MarkCurrentLine(line);
    RefreshRegisters();
}

void TfrmDebug::edAChange() {
    if (!refreshing_) machine_.cpu.A = ParseHexByte(edA->text());
}

void TfrmDebug::edXChange() {
    if (!refreshing_) machine_.cpu.X = ParseHexByte(edX->text());
}

void TfrmDebug::cbFlagClick(int bit, bool checked) {
    if (refreshing_) return;
    const uint8_t mask = uint8_t(1 << bit);
    machine_.cpu.P = checked ? uint8_t(machine_.cpu.P | mask) : uint8_t(machine_.cpu.P & ~mask);
}

}  // namespace vexalo
