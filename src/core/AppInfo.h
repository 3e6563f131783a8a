#pragma once

#include <QStandardPaths>
#include <QString>

namespace qc {

// The application's own name: the title of every message box that has none of its own,
// and the organisation and application of the settings store.
inline QString applicationName()
{
    return QStringLiteral("QuveloCap");
}

// The folder of what the station keeps of its own (the demo database). On Windows the
// user's local application data, %LOCALAPPDATA%\QuveloCap, which that user alone may
// read and which does not roam to other PCs; elsewhere Qt's data folder of the program.
inline QString ownDataFolder()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + applicationName();
#else
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
#endif
}

} // namespace qc
