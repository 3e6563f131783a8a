#pragma once

#include <QString>
#include <QStringList>

namespace qc {

struct Console;
class SettingsStore;

// "quvelocap export|import|report ...": a whole unit's photos without a window, on the
// connection the settings store holds, through the records code of the capture window.
class Cli
{
public:
    enum Exit
    {
        Done = 0,
        ItemsFailed = 1, // each one listed
        UsageOrConnection = 2
    };

    // Whether the program's first argument names one of the commands.
    static bool isCommand(const QString& argument);

    // arguments as the program got them (its own name first, then the command).
    static int run(const QStringList& arguments, SettingsStore& settings, Console& console);

    static QString helpText();
};

} // namespace qc
