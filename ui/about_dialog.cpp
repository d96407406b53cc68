#include "ui/about_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/pictures.h"
#include "vexalo_version.h"

namespace vexalo {

namespace {

constexpr const char* kCredits =
    "Vexalo is written by its developers in C++ on Qt 6.\n"
    "Sound: FluidSynth with a General MIDI SoundFont, or any MIDI port through RtMidi.\n"
    "Joysticks: SDL2.\n"
    "Test cartridges assembled with cc65.\n"
    "Thanks to everyone who documented the console and wrote free programs for it.";

}  // namespace

TfrmAbout::TfrmAbout(const QString& productVersion, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ..."));
    setFixedSize(396, 228);
    setStyleSheet(QStringLiteral("QDialog { background: black; } QLabel { color: white; }"));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgAbout"));
    picture->setPixmap(Picture(QStringLiteral("About")));
    picture->setFixedSize(216, 144);

    lblVersion_ = new QLabel(QStringLiteral("Ver. ") + productVersion, this);
    lblVersion_->setObjectName(QStringLiteral("lblVersion"));
    QFont big = lblVersion_->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 2);
    lblVersion_->setFont(big);

    auto* notice = new QLabel(QStringLiteral(VEXALO_LEGAL_COPYRIGHT), this);
    notice->setObjectName(QStringLiteral("lblNotice"));
    notice->setWordWrap(true);

    auto* creditsTitle = new QLabel(QStringLiteral("CREDITS"), this);
    creditsTitle->setObjectName(QStringLiteral("lblCredits"));
    creditsTitle->setStyleSheet(QStringLiteral("color: rgb(255, 200, 40); font-weight: bold;"));
    auto* credits = new QPlainTextEdit(QString::fromUtf8(kCredits), this);
    credits->setObjectName(QStringLiteral("memCredits"));
    credits->setReadOnly(true);
    credits->setStyleSheet(
        QStringLiteral("background: rgb(16, 16, 28); color: rgb(220, 220, 220); border: none;"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->addWidget(picture, 0, 0, 3, 1, Qt::AlignTop | Qt::AlignLeft);
    grid->addWidget(lblVersion_, 0, 1);
    grid->addWidget(notice, 1, 1, Qt::AlignTop);
    grid->addWidget(creditsTitle, 3, 0);
    grid->addWidget(credits, 4, 0, 1, 2);
    grid->addWidget(ok, 2, 1, Qt::AlignBottom | Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(4, 1);
}

}  // namespace vexalo
