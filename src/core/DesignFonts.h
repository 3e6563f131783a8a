#pragma once

namespace qc {

// The windows are designed in Windows fonts ("MS Sans Serif", "Tahoma"). Where those
// are missing, fontconfig would fall back to a much wider face and captions would run
// into their neighbours; map them to metric-compatible faces first. Safe to call often.
void registerDesignFontSubstitutes();

} // namespace qc
