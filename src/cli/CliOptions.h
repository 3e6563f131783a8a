#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qc {

// What one command line asks for: the command, its unit and folder, its switches, and
// the settings it puts in front of the stored ones for this run.
struct CliOptions
{
    QString command, unit, dir;
    bool force = false, dryRun = false, csv = false;
    std::optional<QString> server, database, user;

    bool isExport() const { return command == QLatin1String("export"); }
    bool isImport() const { return command == QLatin1String("import"); }
    bool isReport() const { return command == QLatin1String("report"); }
};

// A command line read: the options to run, the help asked for, or what is wrong with it
// (in the words the operator is told).
struct CommandLine
{
    enum class Ask
    {
        Run,
        Help,
        Wrong
    };

    Ask ask = Ask::Wrong;
    CliOptions options;
    QString problem;

    // arguments as the program got them (its own name first, then the command).
    static CommandLine parse(const QStringList& arguments);
};

} // namespace qc
