#include "core/Logging.h"

// Only warnings and worse unless QT_LOGGING_RULES asks for more: an operator's station
// should not fill the journal with every frame and query.
Q_LOGGING_CATEGORY(lcCamera, "quvelocap.camera", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFraming, "quvelocap.framing", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecords, "quvelocap.records", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "quvelocap.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcShell, "quvelocap.shell", QtWarningMsg)
