#pragma once

#include <QString>

namespace qc {

// Windows' own sentence for a system error code (GetLastError, LSTATUS), in the system's
// language; "erro N do Windows" when it has none.
QString windowsReason(unsigned long code);

} // namespace qc
