#include "core/Desktop.h"

#include "core/AppInfo.h"

namespace qc {

QString Desktop::titleOrDefault(const QString& title)
{
    return title.isEmpty() ? applicationName() : title;
}

} // namespace qc
