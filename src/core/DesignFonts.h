#pragma once

class QFont;
class QString;

namespace qc {

// The windows are designed in Windows fonts ("MS Sans Serif", "Tahoma"). Where those
// are missing, fontconfig would fall back to a much wider face and captions would run
// into their neighbours; map them to metric-compatible faces first. Safe to call often.
void registerDesignFontSubstitutes();

// A font of the design: family and point size as designed (a .ui file keeps whole
// points only, the design uses 8.25 and 9.75).
QFont designFont(const QString& family, double pointSize, bool bold = false);

} // namespace qc
