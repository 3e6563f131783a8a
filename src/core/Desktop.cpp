#include "core/Desktop.h"

#include "core/AppInfo.h"

#include <QCoreApplication>

namespace qc {

QString Desktop::titleOrDefault(const QString& title)
{
    return title.isEmpty() ? applicationName() : title;
}

void Desktop::processEvents()
{
    QCoreApplication::processEvents();
}

} // namespace qc
