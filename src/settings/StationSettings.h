#pragma once

#include "core/SettingsStore.h"

#include <QString>

#include <memory>

namespace qc {

// The platform's settings store. Linux: the INI file in the user's config folder
// (QtSettingsStore). Windows: the registry key the station has always used
// (RegistrySettingsStore::StationKey).
std::unique_ptr<SettingsStore> openStationSettings();

// The demo's own settings, kept apart from the real ones. Linux: demo-settings.conf in
// demoFolder, beside the demo's database. Windows: RegistrySettingsStore::DemoKey.
std::unique_ptr<SettingsStore> openDemoSettings(const QString& demoFolder);

} // namespace qc
