#pragma once

#include <QString>

namespace qc {

// Why a camera could not be opened, or why its stream ended: the kind, which the
// station explains to the operator in its own words, and the driver's own reason.
struct CaptureError
{
    enum class Kind
    {
        None,        // nothing failed
        Absent,      // no camera at that place in the list
        Busy,        // another program (or window) is using it
        Denied,      // the user may not open the device
        Unsupported, // no picture format the station can read
        Gone,        // unplugged, or the device went away
        Privacy,     // Windows' camera privacy setting keeps desktop programs from it
        Failed       // anything else
    };

    Kind kind = Kind::None;
    QString reason;
};

} // namespace qc
