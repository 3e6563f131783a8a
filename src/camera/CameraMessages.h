#pragma once

#include "camera/CaptureError.h"

#include <QString>

namespace qc {

// What the operator reads when a camera cannot be opened, with the driver's reason.
QString cameraOpenFailureText(const CaptureError& error);
// What the operator reads when a running preview ends because its camera stopped.
QString cameraStreamEndedText(const CaptureError& error);

} // namespace qc
