#pragma once

#include <QString>

namespace qc {

class Desktop;
class SettingsStore;

// The platform services and start-up facts the capture window is given. Production
// fills it in main(); tests give doubles where a service would block or reach hardware.
struct StationServices
{
    Desktop* desktop = nullptr;
    SettingsStore* settings = nullptr;
    QString appFolder; // the folder that holds the program's executable
    bool demo = false;
};

} // namespace qc
