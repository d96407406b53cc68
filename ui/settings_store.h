// The settings store: the user's settings and recent images kept between runs, read once when the
// main window is created and written once when it is destroyed, in the user's "Ostrane/Vexalo"
// store (~/.config/Ostrane/Vexalo.conf on Linux, the registry key on Windows). Only these two
// functions read or write it.
#pragma once

#include <QSettings>
#include <QStringList>

#include "ui/settings.h"

namespace vexalo {

constexpr int kRecentImageCount = 5;

// Fills `settings` and `mruList` (always five entries, empty for missing ones). A missing value
// takes its default; a stored value of the wrong kind takes its default too, and one outside
// what the settings dialog offers is brought into range, so nothing read here can divide by
// zero or index outside a table.
void LoadSettings(QSettings& store, Settings& settings, QStringList& mruList);

// Writes every value, changed or not, in the store's order; integers and switches as integers.
void SaveSettings(QSettings& store, const Settings& settings, const QStringList& mruList);

}  // namespace vexalo
