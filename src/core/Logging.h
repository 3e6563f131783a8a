#pragma once

#include <QLoggingCategory>

// One category per subsystem. Warnings and errors reach stderr (the journal when the
// station is started from the desktop); more is shown with, for example,
// QT_LOGGING_RULES="quvelocap.*.debug=true". A password never goes into a message.
Q_DECLARE_LOGGING_CATEGORY(lcCamera)
Q_DECLARE_LOGGING_CATEGORY(lcFraming)
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcShell)
