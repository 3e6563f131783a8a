#include "settings/StationSettings.h"

#ifdef _WIN32
#include "settings/RegistrySettingsStore.h"
#else
#include "settings/QtSettingsStore.h"
#endif

namespace qc {

std::unique_ptr<SettingsStore> openStationSettings()
{
#ifdef _WIN32
    return std::make_unique<RegistrySettingsStore>(RegistrySettingsStore::StationKey);
#else
    return std::make_unique<QtSettingsStore>();
#endif
}

std::unique_ptr<SettingsStore> openDemoSettings(const QString& demoFolder)
{
#ifdef _WIN32
    Q_UNUSED(demoFolder);
    return std::make_unique<RegistrySettingsStore>(RegistrySettingsStore::DemoKey);
#else
    return std::make_unique<QtSettingsStore>(demoFolder + QStringLiteral("/demo-settings.conf"));
#endif
}

} // namespace qc
