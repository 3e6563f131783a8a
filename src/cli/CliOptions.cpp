#include "cli/CliOptions.h"

#include "cli/Cli.h"

#include <QCommandLineParser>

namespace qc {

namespace {

CommandLine wrong(const QString& problem)
{
    CommandLine line;
    line.problem = problem;
    return line;
}

// A password on the command line would be visible to every user of the machine.
bool asksForPasswordOption(const QStringList& arguments)
{
    for (const QString& argument : arguments.mid(1)) {
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        if (option == QLatin1String("--password") || option == QLatin1String("--pw") ||
            option == QLatin1String("-p"))
            return true;
    }
    return false;
}

// Which option belongs to which command; empty when the combination is one they take.
QString misplacedOption(const CliOptions& options, bool dirGiven)
{
    const bool folderCommand = options.isExport() || options.isImport();
    if (options.unit.isEmpty())
        return QStringLiteral("falta --unit CODIGO.");
    if (folderCommand && options.dir.isEmpty())
        return QStringLiteral("falta --dir PASTA.");
    if (!folderCommand && dirGiven)
        return QStringLiteral("--dir é só de export e import.");
    if (options.force && !options.isExport())
        return QStringLiteral("--force é só de export.");
    if (options.dryRun && !options.isImport())
        return QStringLiteral("--dry-run é só de import.");
    if (options.csv && !options.isReport())
        return QStringLiteral("--csv é só de report.");
    return QString();
}

std::optional<QString> valueIfSet(const QCommandLineParser& parser,
                                  const QCommandLineOption& option)
{
    return parser.isSet(option) ? std::optional<QString>(parser.value(option)) : std::nullopt;
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption unit(QStringLiteral("unit"), QString(), QStringLiteral("CODIGO"));
    const QCommandLineOption dir(QStringLiteral("dir"), QString(), QStringLiteral("PASTA"));
    const QCommandLineOption force(QStringLiteral("force"), QString());
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QString());
    const QCommandLineOption csv(QStringLiteral("csv"), QString());
    const QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("S"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("B"));
    const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("U"));
    parser.addOptions({help, unit, dir, force, dryRun, csv, server, database, user});
    parser.addPositionalArgument(QStringLiteral("command"), QString());

    if (asksForPasswordOption(arguments))
        return wrong(QStringLiteral("a senha nunca é dada na linha de comando (ela ficaria "
                                    "visível a outros usuários); use QUVELOCAP_PASSWORD ou "
                                    "responda à pergunta."));
    if (!parser.parse(arguments))
        return wrong(parser.errorText());
    CommandLine line;
    if (parser.isSet(help)) {
        line.ask = Ask::Help;
        return line;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || !Cli::isCommand(positional.first()))
        return wrong(QStringLiteral("dê um comando: export, import ou report."));
    CliOptions& options = line.options;
    options.command = positional.first();
    options.unit = parser.value(unit);
    options.dir = parser.value(dir);
    options.force = parser.isSet(force);
    options.dryRun = parser.isSet(dryRun);
    options.csv = parser.isSet(csv);
    options.server = valueIfSet(parser, server);
    options.database = valueIfSet(parser, database);
    options.user = valueIfSet(parser, user);
    if (const QString problem = misplacedOption(options, parser.isSet(dir)); !problem.isEmpty())
        return wrong(problem);
    line.ask = Ask::Run;
    return line;
}

} // namespace qc
