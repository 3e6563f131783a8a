#pragma once

#include <QString>

namespace qc {

class CaptureLibrary;
class Desktop;
class FramingWorker;
class SettingsStore;

// The platform services and start-up facts the capture window is given. Production
// fills it in main(); tests give doubles where a service would block or reach hardware.
struct StationServices
{
    Desktop* desktop = nullptr;
    SettingsStore* settings = nullptr;
    CaptureLibrary* capture = nullptr; // none: the window sees no capture driver
    // The face analysis, started with the program so that its model is loaded before the
    // first grab; none: the window makes its own at the first need.
    FramingWorker* framing = nullptr;
    QString appFolder; // the folder that holds the program's executable
    bool demo = false;
};

} // namespace qc
