#pragma once

#include <QString>

namespace qc {

// The application's own name: the title of every message box that has none of its own,
// and the organisation and application of the settings store.
inline QString applicationName()
{
    return QStringLiteral("QuveloCap");
}

} // namespace qc
