#include "ui/setting_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <initializer_list>

#include "input/sdl_joystick.h"
#include "ui/pictures.h"

namespace vexalo {

namespace {

constexpr std::array<KeyListEntry, 52> kKeyList{{
    {"BACK", 8},       {"TAB", 9},        {"CLEAR", 12},     {"RETURN", 13},    {"SHIFT", 16},
    {"CONTROL", 17},   {"ESCAPE", 27},    {"SPACE", 32},     {"PAG UP", 33},    {"PAG DOWN", 34},
    {"END", 35},       {"HOME", 36},      {"LEFT", 37},      {"UP", 38},        {"RIGHT", 39},
    {"DOWN", 40},      {"NUMPAD 0", 96},  {"NUMPAD 1", 97},  {"NUMPAD 2", 98},  {"NUMPAD 3", 99},
    {"NUMPAD 4", 100}, {"NUMPAD 5", 101}, {"NUMPAD 6", 102}, {"NUMPAD 7", 103}, {"NUMPAD 8", 104},
    {"NUMPAD 9", 105}, {"Key A", 65},     {"Key B", 66},     {"Key C", 67},     {"Key D", 68},
    {"Key E", 69},     {"Key F", 70},     {"Key G", 71},     {"Key H", 72},     {"Key I", 73},
    {"Key J", 74},     {"Key K", 75},     {"Key L", 76},     {"Key M", 77},     {"Key N", 78},
    {"Key O", 79},     {"Key P", 80},     {"Key Q", 81},     {"Key R", 82},     {"Key S", 83},
    {"Key T", 84},     {"Key U", 85},     {"Key V", 86},     {"Key W", 87},     {"Key X", 88},
    {"Key Y", 89},     {"Key Z", 90},
}};

constexpr int kVolumeMaximum = 65535;
constexpr int kVolumeTick = 6553;
constexpr QSize kNominalClientSize(361, 324);
constexpr QPoint kNominalPosition(200, 108);

// Buttons in binding order, with their captions and the object names of each player's lists.
constexpr const char* kButtonCaptions[8] = {"UP", "DOWN", "LEFT",  "RIGHT",
                                            "A",  "B",    "START", "SELECT"};
constexpr const char* kKeyListNames[2][8] = {
    {"cb1UP", "cb1down", "cb1Left", "cb1right", "cb1A", "cb1B", "cb1Start", "cb1Select"},
    {"cb2Up", "cb2down", "cb2Left", "cb2Right", "cb2A", "cb2B", "cb2Start", "cb2Select"},
};
enum Button { Up, Down, Left, Right, A, B, Start, Select };

// Beside a player's joypad switch when there is no pad to read.
constexpr const char* kNoPadText = "No game controller connected";

template <class W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The decorative picture at a page's lower right, after whatever stands at the row's left.
QHBoxLayout* EmblemRow(std::initializer_list<QWidget*> left = {}) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : left) row->addWidget(widget, 0, Qt::AlignBottom);
    row->addStretch();
    auto* emblem = Named(new QLabel, "Emblem");
    emblem->setPixmap(Emblem(32));
    row->addWidget(emblem, 0, Qt::AlignBottom);
    return row;
}

// "10" for the top of the track bar (loudest), "0" for the bottom.
QString VolumeText(int position) {
    return QString::number((kVolumeMaximum - position) / kVolumeTick);
}

}  // namespace

std::span<const KeyListEntry> KeyListEntries() {
    return kKeyList;
}

int FrameSkipFromText(const QString& text) {
    QStringView digits = QStringView(text).trimmed();
    bool negative = false;
    if (!digits.isEmpty() && (digits[0] == u'+' || digits[0] == u'-')) {
        negative = digits[0] == u'-';
        digits = digits.mid(1);
    }
    if (digits.isEmpty()) return 1;
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') return 1;
        value = std::min(value * 10 + (c.unicode() - u'0'), 11);  // anything past 10 stays 11
    }
    return negative ? 1 : std::clamp(value, 1, 10);
}

TfrmSetting::TfrmSetting(Settings& settings, std::optional<std::vector<DisplayMode>> displayModes,
                         QWidget* parent)
    : QDialog(parent), settings_(settings), displayModes_(std::move(displayModes)) {
    setObjectName(QStringLiteral("frmSetting"));
    setWindowTitle(QStringLiteral("Setting ..."));
    setWindowFlag(Qt::Tool);

    pcSetting_ = Named(new QTabWidget, "pcSetting");
    pcSetting_->addTab(BuildNesPage(), QStringLiteral("NES"));
    pcSetting_->addTab(BuildScreenPage(), QStringLiteral("Screen"));
    pcSetting_->addTab(BuildSoundPage(), QStringLiteral("Sound"));
    pcSetting_->addTab(BuildJoypadPage(0), QStringLiteral("Player 1"));
    pcSetting_->addTab(BuildJoypadPage(1), QStringLiteral("Player 2"));
    pcSetting_->setCurrentIndex(2);

    auto* btnOK = Named(new QPushButton(QStringLiteral("OK")), "btnOK");
    auto* btnCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btnCancel");
    btnOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pcSetting_);
    layout->addLayout(buttons);

    // Within each page: the order the settings are listed in; then the two buttons.
    std::vector<QWidget*> chain = {pcSetting_, seRate_,     rbNormal_, rbFull_,
                                   cbDisplay_, ckViewFreq_, tbVolume_};
    chain.insert(chain.end(), std::begin(cbChannel_), std::end(cbChannel_));
    for (int p = 0; p < 2; ++p) {
        chain.insert(chain.end(), std::begin(keyLists_[p]), std::end(keyLists_[p]));
        chain.push_back(cbJoy_[p]);
    }
    chain.push_back(btnOK);
    chain.push_back(btnCancel);
    for (size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);

    connect(rbNormal_, &QRadioButton::clicked, this, [this] { rbNormalClick(rbNormal_); });
    connect(rbFull_, &QRadioButton::clicked, this, [this] { rbNormalClick(rbFull_); });
    connect(tbVolume_, &QSlider::valueChanged, this, &TfrmSetting::tbVolumeChange);
    connect(btnOK, &QPushButton::clicked, this, &TfrmSetting::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    FormCreate();

    // Not resizable; the nominal size unless the fonts need more room.
    setFixedSize(sizeHint().expandedTo(kNominalClientSize));
    const QScreen* screen = parent ? parent->screen() : QDialog::screen();
    if (screen) move(screen->availableGeometry().topLeft() + kNominalPosition);
}

QWidget* TfrmSetting::BuildNesPage() {
    auto* page = Named(new QWidget, "tsNES");
    seRate_ = Named(new QSpinBox, "seRate");
    seRate_->setRange(1, 10);
    auto* label = new QLabel(QStringLiteral("Frame skip :"));
    label->setBuddy(seRate_);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(seRate_);
    row->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addStretch();
    layout->addLayout(EmblemRow());
    return page;
}

QWidget* TfrmSetting::BuildScreenPage() {
    auto* page = Named(new QWidget, "tsScreen");
    rbNormal_ = Named(new QRadioButton(QStringLiteral("Normal view")), "rbNormal");
    rbFull_ = Named(new QRadioButton(QStringLiteral("Full screen")), "rbFull");
    cbDisplay_ = Named(new QComboBox, "cbDisplay");
    cbDisplay_->setEnabled(false);
    ckViewFreq_ = Named(new QCheckBox(QStringLiteral("View Frame Rate")), "ckViewFreq");
    auto* label = new QLabel(QStringLiteral("Display mode :"));
    label->setBuddy(cbDisplay_);

    auto* mode = new QHBoxLayout;
    mode->addWidget(label);
    mode->addWidget(cbDisplay_, 1);
    auto* group = Named(new QGroupBox(QStringLiteral("Screen Size")), "gbScreenSize");
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(rbNormal_);
    groupLayout->addWidget(rbFull_);
    groupLayout->addLayout(mode);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(group);
    layout->addWidget(ckViewFreq_);
    layout->addStretch();
    layout->addLayout(EmblemRow());
    return page;
}

QWidget* TfrmSetting::BuildSoundPage() {
    auto* page = Named(new QWidget, "tsSound");
    // Position 0 is drawn at the top and stands for the loudest setting; the arrow keys and the
    // wheel move the handle the way they point.
    tbVolume_ = Named(new QSlider(Qt::Vertical), "tbVolume");
    tbVolume_->setRange(0, kVolumeMaximum);
    tbVolume_->setInvertedAppearance(true);
    tbVolume_->setInvertedControls(true);
    tbVolume_->setTickPosition(QSlider::TicksBothSides);
    tbVolume_->setTickInterval(kVolumeTick);
    tbVolume_->setSingleStep(kVolumeTick / 10);
    tbVolume_->setPageStep(kVolumeTick);
    tbVolume_->setMinimumHeight(150);
    lbVolume_ = Named(new QLabel, "lbVolume");
    lbVolume_->setAlignment(Qt::AlignCenter);

    auto* volume = Named(new QGroupBox(QStringLiteral("Volume")), "gbVolume");
    auto* volumeLayout = new QVBoxLayout(volume);
    volumeLayout->addWidget(tbVolume_, 1, Qt::AlignHCenter);
    volumeLayout->addWidget(lbVolume_);

    const char* captions[5] = {"Channel #1 (Square wave 1)", "Channel #2 (Square wave 2)",
                               "Channel #3 (Triangle wave)", "Channel #4 (Noise)", "PCM"};
    auto* channels = new QVBoxLayout;
    for (int i = 0; i < 5; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(captions[i]));
        box->setObjectName(QStringLiteral("cbCH%1").arg(i + 1));
        if (i < 4) {
            cbChannel_[i] = box;
        } else {
            box->setEnabled(false);  // no sample channel to switch
        }
        channels->addWidget(box);
    }
    channels->addStretch();
    channels->addLayout(EmblemRow());

    auto* layout = new QHBoxLayout(page);
    layout->addWidget(volume);
    layout->addLayout(channels, 1);
    return page;
}

QWidget* TfrmSetting::BuildJoypadPage(int player) {
    auto* page = Named(new QWidget, player == 0 ? "tsJoypad1" : "tsJoypad2");
    QComboBox** lists = keyLists_[player];
    QWidget* cells[8];
    for (int b = 0; b < 8; ++b) {
        lists[b] = Named(new QComboBox, kKeyListNames[player][b]);
        auto* label = new QLabel(QString::fromLatin1(kButtonCaptions[b]));
        label->setAlignment(Qt::AlignCenter);
        label->setBuddy(lists[b]);
        cells[b] = new QWidget;
        auto* cell = new QVBoxLayout(cells[b]);
        cell->setContentsMargins(0, 0, 0, 0);
        cell->setSpacing(2);
        cell->addWidget(label);
        cell->addWidget(lists[b]);
    }

    // The directions as a cross, the buttons as on the pad: B beside A, Select beside Start.
    auto* directions = Named(new QGroupBox(QStringLiteral("Directions")), "gbDirections");
    auto* cross = new QGridLayout(directions);
    cross->addWidget(cells[Up], 0, 0, 1, 2, Qt::AlignHCenter);
    cross->addWidget(cells[Left], 1, 0);
    cross->addWidget(cells[Right], 1, 1);
    cross->addWidget(cells[Down], 2, 0, 1, 2, Qt::AlignHCenter);
    auto* buttons = Named(new QGroupBox(QStringLiteral("Buttons")), "gbButtons");
    auto* pad = new QGridLayout(buttons);
    pad->setRowStretch(0, 1);
    pad->addWidget(cells[B], 1, 0);
    pad->addWidget(cells[A], 1, 1);
    pad->addWidget(cells[Select], 2, 0);
    pad->addWidget(cells[Start], 2, 1);
    pad->setRowStretch(3, 1);

    cbJoy_[player] =
        Named(new QCheckBox(QStringLiteral("Joypad enabled")), player == 0 ? "cbJoy1" : "cbJoy2");
    lblJoy_[player] = Named(new QLabel, player == 0 ? "lblJoy1" : "lblJoy2");
    auto* groups = new QHBoxLayout;
    groups->addWidget(directions);
    groups->addWidget(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(groups);
    layout->addStretch();
    layout->addLayout(EmblemRow({cbJoy_[player], lblJoy_[player]}));
    return page;
}

void TfrmSetting::FormCreate() {
    for (auto& lists : keyLists_) {
        for (QComboBox* list : lists) {
            list->clear();
            for (const KeyListEntry& entry : kKeyList)
                list->addItem(QString::fromLatin1(entry.text), entry.code);
        }
    }

    cbDisplay_->clear();
    if (displayModes_) {
        for (const DisplayMode& mode : *displayModes_)
            cbDisplay_->addItem(QString::fromStdString(FormatDisplayMode(mode)));
    } else {
        rbFull_->setEnabled(false);
        cbDisplay_->setEnabled(false);
    }

    seRate_->setValue(settings_.FrameRate);  // the spin edit keeps it within 1-10

    const int volume = std::clamp<int32_t>(settings_.SoundVolume, 0, kVolumeMaximum);
    tbVolume_->setValue(kVolumeMaximum - volume);
    tbVolumeChange();

    for (int i = 0; i < 4; ++i) cbChannel_[i]->setChecked(settings_.channelEnabled[i]);

    for (int p = 0; p < 2; ++p) {
        for (int b = 0; b < 8; ++b)
            keyLists_[p][b]->setCurrentIndex(keyLists_[p][b]->findData(settings_.KeyBinding[p][b]));
        cbJoy_[p]->setChecked(settings_.joystickEnabled[p]);
    }
    ShowPadNames(ConnectedPadNames());

    if (settings_.WIN == 1) {
        rbFull_->setChecked(true);
        rbNormalClick(rbFull_);
    } else {
        rbNormal_->setChecked(true);
    }

    const int mode = cbDisplay_->findText(QString::fromStdString(settings_.SCREEN));
    cbDisplay_->setCurrentIndex(mode >= 0 ? mode : 0);  // the first entry, if there is one

    ckViewFreq_->setChecked(settings_.ViewFrequency);
}

void TfrmSetting::ShowPadNames(const std::vector<std::string>& names) {
    const QString noPad = QString::fromLatin1(kNoPadText);
    for (int p = 0; p < 2; ++p) {
        const int pad = PadOfPlayer(p, static_cast<int>(names.size()));
        const QString name =
            pad < 0 ? noPad : QString::fromStdString(names[static_cast<size_t>(pad)]);
        // A name longer than the text for no pad is cut short rather than widening the dialog;
        // the whole name is its tip.
        const QFontMetrics metrics = lblJoy_[p]->fontMetrics();
        lblJoy_[p]->setText(
            metrics.elidedText(name, Qt::ElideRight, metrics.horizontalAdvance(noPad)));
        lblJoy_[p]->setToolTip(name);
    }
}

void TfrmSetting::rbNormalClick(QObject* sender) {
    // A full-screen choice the video layer cannot offer keeps the list disabled.
    cbDisplay_->setEnabled(sender == rbFull_ && rbFull_->isEnabled());
}

void TfrmSetting::tbVolumeChange() {
    lbVolume_->setText(VolumeText(tbVolume_->value()));
}

void TfrmSetting::btnOKClick() {
    Settings& s = settings_;
    s.FrameRate = FrameSkipFromText(seRate_->cleanText());
    s.SoundVolume = kVolumeMaximum - tbVolume_->value();
    for (int i = 0; i < 4; ++i) s.channelEnabled[i] = cbChannel_[i]->isChecked();
    for (int p = 0; p < 2; ++p) {
        for (int b = 0; b < 8; ++b) {
            const QComboBox* list = keyLists_[p][b];
            s.KeyBinding[p][b] = list->currentIndex() < 0 ? -1 : list->currentData().toInt();
        }
        s.joystickEnabled[p] = cbJoy_[p]->isChecked();
    }
    s.ViewFrequency = ckViewFreq_->isChecked();
    if (rbNormal_->isChecked()) {
        s.WIN = 0;  // the full-screen mode text stays as it was
    } else if (rbFull_->isChecked()) {
        s.WIN = 1;
        // An empty mode list has nothing to offer: the stored mode is kept, not blanked.
        if (cbDisplay_->currentIndex() >= 0) s.SCREEN = cbDisplay_->currentText().toStdString();
    }
    accept();
}

}  // namespace vexalo
