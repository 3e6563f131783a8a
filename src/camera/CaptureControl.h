#pragma once

#include <QList>
#include <QString>

namespace qc {

// One adjustable setting of a capture device, as the device describes it. The source
// dialog builds its widgets from a list of these.
struct CaptureControl
{
    enum class Type
    {
        Integer,
        Boolean,
        Menu,
        Button
    };

    struct MenuItem
    {
        int value = 0;
        QString name;
    };

    quint32 id = 0;
    Type type = Type::Integer;
    QString name;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int defaultValue = 0;
    int value = 0;
    QList<MenuItem> menu; // Menu only
};

} // namespace qc
