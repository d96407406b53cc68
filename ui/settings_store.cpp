#include "ui/settings_store.h"

#include <algorithm>
#include <initializer_list>

namespace vexalo {

namespace {

constexpr const char* kJoypadGroups[2] = {"JOY1", "JOY2"};
constexpr const char* kBindingNames[8] = {"UP", "DOWN", "LEFT",  "RIGHT",
                                          "A",  "B",    "START", "SELECT"};

// A stored integer: the default when it is missing or not a whole number; clamped into
// [low, high] otherwise.
int32_t ReadInteger(const QSettings& store, const char* name, int32_t fallback, int64_t low,
                    int64_t high) {
    const QVariant value = store.value(QLatin1String(name));
    if (!value.isValid()) return fallback;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok) return fallback;
    return static_cast<int32_t>(std::clamp<int64_t>(number, low, high));
}

// A stored switch: any non-zero number is on; "true"/"false" as another program may write them.
bool ReadSwitch(const QSettings& store, const char* name, bool fallback) {
    const QVariant value = store.value(QLatin1String(name));
    if (!value.isValid()) return fallback;
    const QString text = value.toString().trimmed();
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (ok) return number != 0;
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
    return fallback;
}

// A key code: the codes 1-255 name keys and -1 or 0 none; anything else takes the default.
int32_t ReadKeyCode(const QSettings& store, const char* name, int32_t fallback) {
    const int32_t code = ReadInteger(store, name, fallback, INT32_MIN, INT32_MAX);
    return code >= -1 && code <= 255 ? code : fallback;
}

// A stored integer that must be one of `choices`; anything else takes the default.
int32_t ReadChoice(const QSettings& store, const char* name, int32_t fallback,
                   std::initializer_list<int32_t> choices) {
    const int32_t value = ReadInteger(store, name, fallback, INT32_MIN, INT32_MAX);
    return std::find(choices.begin(), choices.end(), value) != choices.end() ? value : fallback;
}

void WriteInteger(QSettings& store, const char* name, int64_t value) {
    store.setValue(QLatin1String(name), static_cast<qlonglong>(value));
}

}  // namespace

void LoadSettings(QSettings& store, Settings& settings, QStringList& mruList) {
    const Settings defaults;
    settings.FrameRate = ReadInteger(store, "FrameRate", defaults.FrameRate, 1, 10);
    settings.ViewFrequency = ReadSwitch(store, "ViewFrequency", defaults.ViewFrequency);
    settings.SoundVolume = ReadInteger(store, "SoundVolume", defaults.SoundVolume, 0, 65535);
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "SoundChannel" + QByteArray::number(i + 1);
        settings.channelEnabled[i] =
            ReadSwitch(store, name.constData(), defaults.channelEnabled[i]);
    }
    settings.WIN = ReadInteger(store, "WIN", defaults.WIN, INT32_MIN, INT32_MAX) == 1 ? 1 : 0;
    if (store.contains(QStringLiteral("SCREEN"))) {
        settings.SCREEN = store.value(QStringLiteral("SCREEN")).toString().toStdString();
    } else {
        settings.SCREEN.clear();
        settings.WIN = 0;
    }
    // Missing (a first start): 0, and the window picks a scale for the screen.
    settings.WindowScale = ReadInteger(store, "WindowScale", defaults.WindowScale, 1, 6);
    settings.PixelAspect = ReadInteger(store, "PixelAspect", defaults.PixelAspect, 0, 1);
    settings.FastForwardCap =
        ReadChoice(store, "FastForwardCap", defaults.FastForwardCap, {2, 4, 8, 0});
    settings.EmulationSpeed =
        ReadChoice(store, "EmulationSpeed", defaults.EmulationSpeed, {100, 50, 25});
    mruList.clear();
    for (int i = 0; i < kRecentImageCount; ++i)
        mruList.append(store.value(QStringLiteral("MRU%1").arg(i + 1)).toString());

    for (int p = 0; p < 2; ++p) {
        store.beginGroup(QLatin1String(kJoypadGroups[p]));
        settings.joystickEnabled[p] = ReadSwitch(store, "ENABLED", defaults.joystickEnabled[p]);
        for (int b = 0; b < 8; ++b)
            settings.KeyBinding[p][b] =
                ReadKeyCode(store, kBindingNames[b], defaults.KeyBinding[p][b]);
        store.endGroup();
    }
}

void SaveSettings(QSettings& store, const Settings& settings, const QStringList& mruList) {
    WriteInteger(store, "FrameRate", settings.FrameRate);
    WriteInteger(store, "ViewFrequency", settings.ViewFrequency);
    WriteInteger(store, "SoundVolume", settings.SoundVolume);
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "SoundChannel" + QByteArray::number(i + 1);
        WriteInteger(store, name.constData(), settings.channelEnabled[i]);
    }
    store.setValue(QStringLiteral("SCREEN"), QString::fromStdString(settings.SCREEN));
    WriteInteger(store, "WIN", settings.WIN);
    WriteInteger(store, "WindowScale", settings.WindowScale);
    WriteInteger(store, "PixelAspect", settings.PixelAspect);
    WriteInteger(store, "FastForwardCap", settings.FastForwardCap);
    WriteInteger(store, "EmulationSpeed", settings.EmulationSpeed);
    for (int i = 0; i < kRecentImageCount; ++i)
        store.setValue(QStringLiteral("MRU%1").arg(i + 1), mruList.value(i));

    for (int p = 0; p < 2; ++p) {
        store.beginGroup(QLatin1String(kJoypadGroups[p]));
        for (int b = 0; b < 8; ++b)
            WriteInteger(store, kBindingNames[b], settings.KeyBinding[p][b]);
        WriteInteger(store, "ENABLED", settings.joystickEnabled[p]);
        store.endGroup();
    }
    store.sync();
}

}  // namespace vexalo
