#include "cartridge/rom_property_dialog.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "machine/machine.h"
#include "ui/pictures.h"

namespace vexalo {

namespace {

constexpr int kEmblemSize = 32;

// Header bytes as text. Bytes outside printable ASCII are shown as the replacement character, one
// per byte, so a damaged header can neither hide text nor make the field longer than its bytes.
QString HeaderCharacters(const uint8_t* bytes, size_t count) {
    QString text;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        text += (b >= 0x20 && b < 0x7F) ? QChar(char16_t(b)) : QChar(QChar::ReplacementCharacter);
    }
    return text;
}

// Byte 7, then bytes 8-15 up to the first zero; nothing when byte 7 is zero.
QString ExpansionText(const std::array<uint8_t, 16>& header) {
    if (header[7] == 0) return {};
    size_t end = 8;
    while (end < header.size() && header[end] != 0) ++end;
    return HeaderCharacters(&header[7], end - 7);
}

QLineEdit* ReadOnlyField(const char* name, const QString& text) {
    auto* field = new QLineEdit(text);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);  // its text can be selected, but Tab passes it by
    field->setCursorPosition(0);
    return field;
}

QLabel* Caption(const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setBuddy(buddy);
    return label;
}

QCheckBox* Flag(const char* name, const char* caption, bool checked) {
    auto* box = new QCheckBox(QString::fromLatin1(caption));
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
}

}  // namespace

TfrmROMProperty::TfrmROMProperty(const Machine& machine, QWidget* parent) : QDialog(parent) {
    const Cartridge& cart = machine.cart;
    const auto& h = cart.CartridgeHeader;
    setObjectName(QStringLiteral("frmROMProperty"));
    setWindowTitle(QStringLiteral("ROM Property"));
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto* edFileName =
        ReadOnlyField("edFileName", QFile::decodeName(cart.romFileName.c_str()).toUpper());
    auto* edHeader = ReadOnlyField("edHeader", HeaderCharacters(h.data(), 3));
    auto* edProgPages = ReadOnlyField("edProgPages", QString::number(h[4]));
    auto* edCharPages = ReadOnlyField("edCharPages", QString::number(h[5]));
    auto* lblROM = new QLabel(QStringLiteral("[%1 Kb]").arg(h[4] * 16));
    lblROM->setObjectName(QStringLiteral("lblROM"));
    auto* lblVROM = new QLabel(QStringLiteral("[%1 Kb]").arg(h[5] * 8));
    lblVROM->setObjectName(QStringLiteral("lblVROM"));
    // The whole mapper number: its low four bits alone would name another mapper (16 as 0).
    auto* edMapping = ReadOnlyField("edMapping", QStringLiteral("#%1, %2")
                                                     .arg(cart.mapperNumber)
                                                     .arg(QString::fromStdString(cart.mapperName)));
    auto* edEXpansion = ReadOnlyField("edEXpansion", ExpansionText(h));

    // Room for three digits is all a page count needs; the file name is shown whole unless it is
    // very long.
    const QFontMetrics metrics = edFileName->fontMetrics();
    const int inner = 16;  // frame and text margins of a line edit
    for (QLineEdit* pages : {edProgPages, edCharPages})
        pages->setMaximumWidth(metrics.horizontalAdvance(QStringLiteral("00000")) + inner);
    edFileName->setMinimumWidth(std::clamp(metrics.horizontalAdvance(edFileName->text()) + inner,
                                           metrics.averageCharWidth() * 28,
                                           metrics.averageCharWidth() * 64));

    // The mirroring the picture processor uses now: a mapper may have changed it since loading,
    // and some mappers change only the mirror distance.
    const bool vertical = cart.mirrorDistance == 2048;
    auto* pnlCheck = new QFrame;
    pnlCheck->setObjectName(QStringLiteral("pnlCheck"));
    pnlCheck->setFrameShape(QFrame::StyledPanel);
    auto* checks = new QGridLayout(pnlCheck);
    checks->addWidget(Flag("cbVertMirror", "Vertical Mirroring", vertical), 0, 0);
    checks->addWidget(Flag("cbBattery", "Battery", cart.headerFlags & HeaderBattery), 0, 1);
    checks->addWidget(Flag("cbTrainer", "Trainer", cart.headerFlags & HeaderTrainer), 1, 0);
    checks->addWidget(Flag("cbFourScreen", "Four Screen", cart.headerFlags & HeaderFourScreen), 1,
                      1);
    pnlCheck->setEnabled(false);  // shown, never changed

    auto* fields = new QGridLayout;
    fields->setColumnStretch(4, 1);
    fields->addWidget(Caption("FileName :", edFileName), 0, 0);
    fields->addWidget(edFileName, 0, 1, 1, 4);
    fields->addWidget(Caption("Header :", edHeader), 1, 0);
    fields->addWidget(edHeader, 1, 1, 1, 4);
    fields->addWidget(Caption("Program Pages :", edProgPages), 2, 0);
    fields->addWidget(edProgPages, 2, 1);
    fields->addWidget(new QLabel(QStringLiteral("ROM")), 2, 2);
    fields->addWidget(lblROM, 2, 3);
    fields->addWidget(Caption("Character Pages :", edCharPages), 3, 0);
    fields->addWidget(edCharPages, 3, 1);
    fields->addWidget(new QLabel(QStringLiteral("VROM")), 3, 2);
    fields->addWidget(lblVROM, 3, 3);
    fields->addWidget(pnlCheck, 4, 0, 1, 5);
    fields->addWidget(Caption("Mapping :", edMapping), 5, 0);
    fields->addWidget(edMapping, 5, 1, 1, 4);
    fields->addWidget(Caption("Expansion :", edEXpansion), 6, 0);
    fields->addWidget(edEXpansion, 6, 1, 1, 4);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* btnOK = new QPushButton(QStringLiteral("OK"));
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    auto* emblem = new QLabel;
    emblem->setObjectName(QStringLiteral("Emblem"));
    emblem->setPixmap(Emblem(kEmblemSize));
    auto* bottom = new QHBoxLayout;
    bottom->addSpacing(kEmblemSize);  // keeps OK in the middle
    bottom->addStretch();
    bottom->addWidget(btnOK);
    bottom->addStretch();
    bottom->addWidget(emblem);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(line);
    layout->addLayout(bottom);

    // A fixed border, centred on the screen.
    setFixedSize(sizeHint());
    if (const QScreen* screen = parent ? parent->screen() : QDialog::screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

}  // namespace vexalo
