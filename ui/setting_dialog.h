// The settings dialog: frame skip, window or full-screen display and the full-screen mode, the
// frame-rate display, the volume and channel switches, and both players' key bindings and
// joystick switches, with the name of the pad each player's switch would read. It reads the
// settings record when it is created and writes it back only when OK is pressed; Cancel changes
// nothing. It never touches the settings store.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/display_mode.h"
#include "ui/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace vexalo {

// One entry of the key lists: the text shown and the Windows virtual-key code it stands for.
struct KeyListEntry {
    const char* text;
    int32_t code;
};

// The 52 keys a joypad button can be bound to, in the order the lists show them.
std::span<const KeyListEntry> KeyListEntries();

// The frame skip typed into the spin edit: a number is limited to 1-10, anything else gives 1.
int FrameSkipFromText(const QString& text);

class TfrmSetting : public QDialog {
   public:
    // `displayModes` are the full-screen modes the video layer reports, or nothing when the video
    // layer cannot be initialised (full screen then cannot be chosen).
    TfrmSetting(Settings& settings, std::optional<std::vector<DisplayMode>> displayModes,
                QWidget* parent = nullptr);

    // Fills the controls from the settings record, and names the connected pads.
    void FormCreate();
    // Beside each player's joypad switch: the pad that player reads out of `names` (the pads in
    // the order the pad source counts them), or that none is connected.
    void ShowPadNames(const std::vector<std::string>& names);
    // Both radio buttons: the mode list is enabled exactly when `sender` is "Full screen".
    void rbNormalClick(QObject* sender);
    void tbVolumeChange();
    // Writes the controls back into the settings record and closes with the OK result.
    void btnOKClick();

   private:
    QWidget* BuildNesPage();
    QWidget* BuildScreenPage();
    QWidget* BuildSoundPage();
    QWidget* BuildJoypadPage(int player);

    Settings& settings_;
    std::optional<std::vector<DisplayMode>> displayModes_;

    QTabWidget* pcSetting_ = nullptr;
    QSpinBox* seRate_ = nullptr;
    QRadioButton* rbNormal_ = nullptr;
    QRadioButton* rbFull_ = nullptr;
    QComboBox* cbDisplay_ = nullptr;
    QCheckBox* ckViewFreq_ = nullptr;
    QSlider* tbVolume_ = nullptr;
    QLabel* lbVolume_ = nullptr;
    QCheckBox* cbChannel_[4] = {};
    // Per player, in binding order: Up, Down, Left, Right, A, B, Start, Select.
    QComboBox* keyLists_[2][8] = {};
    QCheckBox* cbJoy_[2] = {};
    QLabel* lblJoy_[2] = {};
};

}  // namespace vexalo
