#pragma once

#include "camera/CaptureError.h"

#include <QString>

#include <cstdint>

namespace qc {

// What a failed Media Foundation call (its HRESULT) means to the operator: the kind of
// failure the station explains, and as the reason the step that failed, Windows' own
// text for the code and the code itself, so that a support call can look it up.
// systemText is what Windows says for the code (FormatMessage), empty when it has
// nothing to say.
CaptureError mfCaptureError(std::uint32_t hresult, const QString& what, const QString& systemText);

// Windows' text for an HRESULT, without the line break it ends with; empty elsewhere
// and where Windows has none.
QString systemTextOf(std::uint32_t hresult);

} // namespace qc
