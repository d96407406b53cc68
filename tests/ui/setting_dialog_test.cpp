// The settings dialog under the offscreen platform: what it shows for a settings record, and what
// OK and Cancel leave in the record.
#include <SDL.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cstdint>
#include <memory>
#include <tuple>
#include <utility>

#include "input/sdl_joystick.h"
#include "machine/display_mode.h"
#include "ui/setting_dialog.h"

using namespace vexalo;

namespace {

const char* const kLists[2][8] = {
    {"cb1UP", "cb1down", "cb1Left", "cb1right", "cb1A", "cb1B", "cb1Start", "cb1Select"},
    {"cb2Up", "cb2down", "cb2Left", "cb2Right", "cb2A", "cb2B", "cb2Start", "cb2Select"},
};

template <class T>
T* Find(const QObject& dialog, const char* name) {
    T* child = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!child) qFatal("the dialog has no %s", name);
    return child;
}

// Every field of the record, one per line, so a comparison names what differs.
QStringList Describe(const Settings& s) {
    QStringList lines{QStringLiteral("FrameRate %1").arg(s.FrameRate),
                      QStringLiteral("ViewFrequency %1").arg(s.ViewFrequency),
                      QStringLiteral("SoundVolume %1").arg(s.SoundVolume),
                      QStringLiteral("WIN %1").arg(s.WIN),
                      QStringLiteral("SCREEN %1").arg(QString::fromStdString(s.SCREEN))};
    for (int i = 0; i < 4; ++i)
        lines << QStringLiteral("channel %1 %2").arg(i).arg(s.channelEnabled[i]);
    for (int p = 0; p < 2; ++p) {
        for (int b = 0; b < 8; ++b)
            lines << QStringLiteral("key %1 %2 %3").arg(p).arg(b).arg(s.KeyBinding[p][b]);
        lines << QStringLiteral("joystick %1 %2").arg(p).arg(s.joystickEnabled[p]);
    }
    return lines;
}

std::vector<DisplayMode> Modes() {
    return ClassicDisplayModes(1024, 768);
}

void ClickOK(const TfrmSetting& dialog) {
    Find<QPushButton>(dialog, "btnOK")->click();
}

void SetTypedFrameSkip(const TfrmSetting& dialog, const QString& text) {
    Find<QSpinBox>(dialog, "seRate")->findChild<QLineEdit*>()->setText(text);
}

// Changes every control the way a user would, away from the defaults.
void ChangeEverything(const TfrmSetting& d) {
    Find<QSpinBox>(d, "seRate")->setValue(7);
    Find<QRadioButton>(d, "rbFull")->click();
    Find<QComboBox>(d, "cbDisplay")->setCurrentIndex(2);
    Find<QCheckBox>(d, "ckViewFreq")->click();
    Find<QSlider>(d, "tbVolume")->setValue(65535 - 40000);
    Find<QCheckBox>(d, "cbCH2")->click();
    Find<QCheckBox>(d, "cbCH4")->click();
    for (int p = 0; p < 2; ++p) {
        for (int b = 0; b < 8; ++b)
            Find<QComboBox>(d, kLists[p][b])->setCurrentIndex(26 + 8 * p + b);
        Find<QCheckBox>(d, p == 0 ? "cbJoy1" : "cbJoy2")->click();
    }
}

}  // namespace

class SettingDialogTest : public QObject {
    Q_OBJECT

   private slots:
    void defaultsShown() {
        Settings settings;
        TfrmSetting dialog(settings, Modes());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Setting ..."));

        const auto* pages = Find<QTabWidget>(dialog, "pcSetting");
        QCOMPARE(pages->count(), 5);
        const char* names[5] = {"tsNES", "tsScreen", "tsSound", "tsJoypad1", "tsJoypad2"};
        const char* captions[5] = {"NES", "Screen", "Sound", "Player 1", "Player 2"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(pages->widget(i)->objectName(), QString::fromLatin1(names[i]));
            QCOMPARE(pages->tabText(i), QString::fromLatin1(captions[i]));
        }
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("tsSound"));

        QCOMPARE(Find<QSpinBox>(dialog, "seRate")->value(), 1);  // every frame shown

        // Position 0 is the loudest and is drawn at the top of the vertical track bar.
        const auto* volume = Find<QSlider>(dialog, "tbVolume");
        QCOMPARE(volume->value(), 0);
        QVERIFY(volume->invertedAppearance());
        QCOMPARE(Find<QLabel>(dialog, "lbVolume")->text(), QStringLiteral("10"));
        for (const char* channel : {"cbCH1", "cbCH2", "cbCH3", "cbCH4"})
            QVERIFY(Find<QCheckBox>(dialog, channel)->isChecked());
        QVERIFY(!Find<QCheckBox>(dialog, "cbCH5")->isEnabled());

        QVERIFY(Find<QRadioButton>(dialog, "rbNormal")->isChecked());
        QVERIFY(Find<QRadioButton>(dialog, "rbFull")->isEnabled());
        QVERIFY(!Find<QComboBox>(dialog, "cbDisplay")->isEnabled());
        QVERIFY(!Find<QCheckBox>(dialog, "ckViewFreq")->isChecked());

        const char* shown[2][8] = {
            {"UP", "DOWN", "LEFT", "RIGHT", "SPACE", "CONTROL", "RETURN", "TAB"},
            {"Key E", "Key X", "Key S", "Key D", "SHIFT", "Key Z", "Key Q", "Key W"}};
        for (int p = 0; p < 2; ++p) {
            for (int b = 0; b < 8; ++b)
                QCOMPARE(Find<QComboBox>(dialog, kLists[p][b])->currentText(),
                         QString::fromLatin1(shown[p][b]));
        }
        QVERIFY(!Find<QCheckBox>(dialog, "cbJoy1")->isChecked());
        QVERIFY(!Find<QCheckBox>(dialog, "cbJoy2")->isChecked());

        // OK on an untouched dialog gives back the same record.
        const QStringList before = Describe(settings);
        ClickOK(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Describe(settings), before);
    }

    void keyListEntriesAndCodes() {
        QList<QPair<QString, int>> expected = {
            {"BACK", 8},    {"TAB", 9},       {"CLEAR", 12},  {"RETURN", 13},
            {"SHIFT", 16},  {"CONTROL", 17},  {"ESCAPE", 27}, {"SPACE", 32},
            {"PAG UP", 33}, {"PAG DOWN", 34}, {"END", 35},    {"HOME", 36},
            {"LEFT", 37},   {"UP", 38},       {"RIGHT", 39},  {"DOWN", 40}};
        for (int digit = 0; digit < 10; ++digit)
            expected.append({QStringLiteral("NUMPAD %1").arg(digit), 96 + digit});
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            expected.append({QStringLiteral("Key ") + QChar(letter), letter});
        QCOMPARE(expected.size(), 52);

        QList<QPair<QString, int>> table;
        for (const KeyListEntry& entry : KeyListEntries())
            table.append({QString::fromLatin1(entry.text), entry.code});
        QCOMPARE(table, expected);

        Settings settings;
        TfrmSetting dialog(settings, Modes());
        for (const auto& lists : kLists) {
            for (const char* name : lists) {
                const auto* list = Find<QComboBox>(dialog, name);
                QVERIFY(!list->isEditable());
                QList<QPair<QString, int>> shown;
                for (int i = 0; i < list->count(); ++i)
                    shown.append({list->itemText(i), list->itemData(i).toInt()});
                QCOMPARE(shown, expected);
            }
        }
    }

    void okWritesEveryControlBack() {
        Settings settings;
        TfrmSetting dialog(settings, Modes());
        ChangeEverything(dialog);
        ClickOK(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        QCOMPARE(settings.FrameRate, 7);
        QCOMPARE(settings.SoundVolume, 40000);
        QCOMPARE(settings.ViewFrequency, true);
        QCOMPARE(settings.WIN, 1);
        QCOMPARE(settings.SCREEN, FormatDisplayMode(Modes()[2]));
        const bool channels[4] = {true, false, true, false};
        for (int i = 0; i < 4; ++i) QCOMPARE(settings.channelEnabled[i], channels[i]);
        for (int p = 0; p < 2; ++p) {
            for (int b = 0; b < 8; ++b) QCOMPARE(settings.KeyBinding[p][b], 65 + 8 * p + b);
            QVERIFY(settings.joystickEnabled[p]);
        }

        // A new dialog on the changed record shows it, and OK there changes nothing more.
        const QStringList changed = Describe(settings);
        TfrmSetting again(settings, Modes());
        QVERIFY(Find<QRadioButton>(again, "rbFull")->isChecked());
        QVERIFY(Find<QComboBox>(again, "cbDisplay")->isEnabled());
        QCOMPARE(Find<QComboBox>(again, "cbDisplay")->currentIndex(), 2);
        QCOMPARE(Find<QLabel>(again, "lbVolume")->text(), QStringLiteral("6"));
        QCOMPARE(Find<QComboBox>(again, "cb2Select")->currentText(), QStringLiteral("Key P"));
        ClickOK(again);
        QCOMPARE(Describe(settings), changed);
    }

    void cancelChangesNothing() {
        Settings settings;
        settings.KeyBinding[1][3] = 999;  // also an unlisted code stays as it was
        const QStringList before = Describe(settings);
        {
            TfrmSetting dialog(settings, Modes());
            ChangeEverything(dialog);
            Find<QPushButton>(dialog, "btnCancel")->click();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(Describe(settings), before);
        {
            TfrmSetting dialog(settings, Modes());
            ChangeEverything(dialog);
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(Describe(settings), before);
    }

    void volumeExtremes() {
        Settings settings;
        TfrmSetting dialog(settings, Modes());
        auto* volume = Find<QSlider>(dialog, "tbVolume");
        const auto* label = Find<QLabel>(dialog, "lbVolume");
        volume->setValue(volume->maximum());  // the bottom
        QCOMPARE(label->text(), QStringLiteral("0"));
        // (65535 - position) div 6553: only the topmost positions show 10.
        const std::pair<int, const char*> labels[] = {
            {5, "10"}, {6, "9"}, {6553, "9"}, {32768, "5"}, {65530, "0"}};
        for (const auto& [position, text] : labels) {
            volume->setValue(position);
            QCOMPARE(label->text(), QString::fromLatin1(text));
        }
        volume->setValue(65535);
        ClickOK(dialog);
        QCOMPARE(settings.SoundVolume, 0);

        // Stored volumes outside 0-65535 are shown at the nearest end.
        const std::tuple<int32_t, int, const char*> odds[] = {
            {-5, 65535, "0"}, {1000000, 0, "10"}, {INT32_MIN, 65535, "0"}};
        for (const auto& [stored, position, text] : odds) {
            Settings odd;
            odd.SoundVolume = stored;
            TfrmSetting shown(odd, Modes());
            QCOMPARE(Find<QSlider>(shown, "tbVolume")->value(), position);
            QCOMPARE(Find<QLabel>(shown, "lbVolume")->text(), QString::fromLatin1(text));
        }
    }

    void modeListAndStoredMode() {
        Settings settings;
        settings.WIN = 1;
        settings.SCREEN = "640x480x16";
        const auto modes = ClassicDisplayModes(800, 600);
        TfrmSetting dialog(settings, modes);
        auto* list = Find<QComboBox>(dialog, "cbDisplay");
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
        QStringList expected;
        for (const DisplayMode& mode : modes)
            expected << QStringLiteral("%1x%2x%3")
                            .arg(mode.width)
                            .arg(mode.height)
                            .arg(mode.bitsPerPixel);
        QCOMPARE(shown, expected);
        QVERIFY(Find<QRadioButton>(dialog, "rbFull")->isChecked());
        QVERIFY(list->isEnabled());
        QCOMPARE(list->currentText(), QStringLiteral("640x480x16"));

        // "Normal view" disables the list, "Full screen" enables it again; OK with "Normal view"
        // keeps the stored mode text.
        Find<QRadioButton>(dialog, "rbNormal")->click();
        QVERIFY(!list->isEnabled());
        Find<QRadioButton>(dialog, "rbFull")->click();
        QVERIFY(list->isEnabled());
        list->setCurrentIndex(0);
        Find<QRadioButton>(dialog, "rbNormal")->click();
        ClickOK(dialog);
        QCOMPARE(settings.WIN, 0);
        QCOMPARE(settings.SCREEN, std::string("640x480x16"));

        // A stored mode the video layer does not report selects the first entry; a display kind
        // other than 0 or 1 shows the window choice.
        settings.WIN = 7;
        settings.SCREEN = "123x45x6";
        TfrmSetting unknown(settings, modes);
        QCOMPARE(Find<QComboBox>(unknown, "cbDisplay")->currentIndex(), 0);
        QVERIFY(Find<QRadioButton>(unknown, "rbNormal")->isChecked());
        QVERIFY(!Find<QComboBox>(unknown, "cbDisplay")->isEnabled());
        Find<QRadioButton>(unknown, "rbFull")->click();
        ClickOK(unknown);
        QCOMPARE(settings.WIN, 1);
        QCOMPARE(settings.SCREEN, FormatDisplayMode(modes.front()));
    }

    void bindingNotInList() {
        Settings settings;
        settings.KeyBinding[0][4] = 999;
        settings.KeyBinding[1][7] = 48;  // the main keyboard's 0 cannot be chosen
        settings.KeyBinding[1][0] = -1;
        TfrmSetting dialog(settings, Modes());
        for (const char* name : {"cb1A", "cb2Select", "cb2Up"}) {
            QCOMPARE(Find<QComboBox>(dialog, name)->currentIndex(), -1);
            QCOMPARE(Find<QComboBox>(dialog, name)->currentText(), QString());
        }
        QCOMPARE(Find<QComboBox>(dialog, "cb1B")->currentText(), QStringLiteral("CONTROL"));
        ClickOK(dialog);
        QCOMPARE(settings.KeyBinding[0][4], -1);
        QCOMPARE(settings.KeyBinding[1][7], -1);
        QCOMPARE(settings.KeyBinding[1][0], -1);
        QCOMPARE(settings.KeyBinding[0][5], 17);
    }

    void typedFrameSkip_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("in range") << "7" << 7;
        QTest::newRow("spaces") << " 5 " << 5;
        QTest::newRow("leading zeros") << "0010" << 10;
        QTest::newRow("zero") << "0" << 1;
        QTest::newRow("too large") << "42" << 10;
        QTest::newRow("huge") << "99999999999999999999" << 10;
        QTest::newRow("negative") << "-3" << 1;
        QTest::newRow("letters") << "abc" << 1;
        QTest::newRow("digits and letters") << "4x" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("sign alone") << "+" << 1;
        QTest::newRow("other digits") << QStringLiteral("\u0665") << 1;  // Arabic-Indic five
    }
    void typedFrameSkip() {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        Settings settings;
        TfrmSetting dialog(settings, Modes());
        SetTypedFrameSkip(dialog, typed);
        ClickOK(dialog);
        QCOMPARE(settings.FrameRate, stored);
    }

    void modesUnavailable() {
        Settings settings;
        settings.WIN = 1;
        settings.SCREEN = "640x480x8";
        TfrmSetting dialog(settings, std::nullopt);
        QVERIFY(!Find<QRadioButton>(dialog, "rbFull")->isEnabled());
        QVERIFY(!Find<QComboBox>(dialog, "cbDisplay")->isEnabled());
        QCOMPARE(Find<QComboBox>(dialog, "cbDisplay")->count(), 0);
        // The rest of the dialog works, and the stored full-screen choice is not lost.
        Find<QSpinBox>(dialog, "seRate")->setValue(5);
        ClickOK(dialog);
        QCOMPARE(settings.FrameRate, 5);
        QCOMPARE(settings.WIN, 1);
        QCOMPARE(settings.SCREEN, std::string("640x480x8"));

        TfrmSetting window(settings, std::nullopt);
        Find<QRadioButton>(window, "rbNormal")->click();
        QVERIFY(!Find<QComboBox>(window, "cbDisplay")->isEnabled());
        ClickOK(window);
        QCOMPARE(settings.WIN, 0);
        QCOMPARE(settings.SCREEN, std::string("640x480x8"));
    }

    void emptyModeListKeepsStoredMode() {
        Settings settings;
        settings.SCREEN = "640x480x8";
        TfrmSetting dialog(settings, std::vector<DisplayMode>{});
        auto* full = Find<QRadioButton>(dialog, "rbFull");
        QVERIFY(full->isEnabled());
        full->click();
        ClickOK(dialog);
        QCOMPARE(settings.WIN, 1);
        QCOMPARE(settings.SCREEN, std::string("640x480x8"));
    }

    // Beside each joypad switch, the name of the pad that player reads, taken from SDL's pads
    // when the dialog opens (virtual ones here).
    void padNamesBesideTheSwitches() {
        const auto shown = [](const TfrmSetting& dialog) {
            return QStringList{Find<QLabel>(dialog, "lblJoy1")->text(),
                               Find<QLabel>(dialog, "lblJoy2")->text()};
        };
        const QString none = QStringLiteral("No game controller connected");
        Settings settings;
        {
            TfrmSetting dialog(settings, Modes());  // SDL's pads not started: nothing to name
            QCOMPARE(shown(dialog), QStringList({none, none}));
        }

        SdlJoystick pads;
        if (!pads.SubsystemReady()) QSKIP(qPrintable(QString::fromStdString(pads.InitError())));
        if (SDL_NumJoysticks() > 0) QSKIP("a pad is attached to this machine");
        const auto attach = [](const char* name) {
            SDL_VirtualJoystickDesc desc{};
            desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
            desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
            desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
            desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
            desc.name = name;
            return SDL_JoystickAttachVirtualEx(&desc);
        };
        QVERIFY(attach("Vexalo Test Pad") >= 0);
        int shortNamesWidth = 0;
        {
            TfrmSetting dialog(settings, Modes());  // one pad serves either player
            shortNamesWidth = dialog.width();
            QCOMPARE(shown(dialog), QStringList({"Vexalo Test Pad", "Vexalo Test Pad"}));
            QCOMPARE(Find<QLabel>(dialog, "lblJoy1")->toolTip(), QStringLiteral("Vexalo Test Pad"));
        }
        const QString longName = QStringLiteral(
            "Vexalo Pad With A Name Far Too Long To Fit Beside "
            "The Switch Of Its Player");
        QVERIFY(attach(qPrintable(longName)) >= 0);
        {
            TfrmSetting dialog(settings, Modes());
            QCOMPARE(shown(dialog).first(), QStringLiteral("Vexalo Test Pad"));
            const auto* second = Find<QLabel>(dialog, "lblJoy2");
            QVERIFY(second->text().endsWith(QChar(0x2026)));
            QVERIFY(second->text().size() < longName.size());
            QCOMPARE(second->toolTip(), longName);
            QCOMPARE(dialog.width(), shortNamesWidth);  // the long name does not widen it
        }
        SDL_JoystickDetachVirtual(0);
        {
            TfrmSetting dialog(settings, Modes());
            QCOMPARE(Find<QLabel>(dialog, "lblJoy1")->toolTip(), longName);
            QCOMPARE(Find<QLabel>(dialog, "lblJoy2")->toolTip(), longName);
        }
        SDL_JoystickDetachVirtual(0);
        TfrmSetting dialog(settings, Modes());
        QCOMPARE(shown(dialog), QStringList({none, none}));
        // The labels show and change nothing else.
        const QStringList before = Describe(settings);
        ClickOK(dialog);
        QCOMPARE(Describe(settings), before);
    }

    void tabOrderFollowsTheSettings() {
        Settings settings;
        TfrmSetting dialog(settings, Modes());
        // Along the focus chain, each player's lists come in binding order, then the joystick.
        for (int p = 0; p < 2; ++p) {
            QWidget* widget = Find<QComboBox>(dialog, kLists[p][0]);
            for (int b = 1; b < 8; ++b) {
                widget = widget->nextInFocusChain();
                QCOMPARE(widget->objectName(), QString::fromLatin1(kLists[p][b]));
            }
            QCOMPARE(widget->nextInFocusChain()->objectName(),
                     QString::fromLatin1(p == 0 ? "cbJoy1" : "cbJoy2"));
        }
        QWidget* ok = Find<QPushButton>(dialog, "btnOK");
        QCOMPARE(ok->nextInFocusChain()->objectName(), QStringLiteral("btnCancel"));
        QVERIFY(Find<QPushButton>(dialog, "btnOK")->isDefault());
    }
};

QTEST_MAIN(SettingDialogTest)
#include "setting_dialog_test.moc"
