// QuveloCap: the student identification photo station.

#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "cli/Cli.h"
#include "cli/Console.h"
#include "core/AppInfo.h"
#include "core/Error.h"
#include "core/Logging.h"
#include "framing/FramingWorker.h"
#include "records/DemoDatabase.h"
#include "settings/StationSettings.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"
#include "shell/StationDiagnostics.h"
#include "shell/UiStallProbe.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Without a display Qt would abort with a terse message; say how to see the station.
bool displayAvailable(const QStringList& arguments)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ||
        arguments.contains(QStringLiteral("-platform")) ||
        arguments.contains(QStringLiteral("--platform")))
        return true;
#ifdef Q_OS_LINUX
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// export, import, report: no window and no display, only the stored settings.
int runCommand(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(qc::applicationName());
    QCoreApplication::setOrganizationName(qc::applicationName());
    QCoreApplication::setApplicationVersion(QStringLiteral(QUVELOCAP_VERSION));
    // Every failure is reported once, in the run's own list: a file that is not a
    // picture, a refused store, the connection. QT_LOGGING_RULES still brings the log back.
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.gui.imageio*=false\nquvelocap.records.warning=false"));
    const std::unique_ptr<qc::SettingsStore> settings = qc::openStationSettings();
    qc::Console console = qc::Console::standard();
    return qc::Cli::run(QCoreApplication::arguments(), *settings, console);
}

// The window's options, which --help lists beside the commands.
struct WindowOptions
{
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption demo{
        QStringLiteral("demo"),
        QStringLiteral("Run on the built-in demonstration database and test-pattern camera.")};
    QCommandLineOption cameraFile{
        QStringLiteral("camera-file"),
        QStringLiteral("Add a camera that shows a picture file, or the pictures of a folder in "
                       "turn, first in the device list."),
        QStringLiteral("path")};

    WindowOptions()
    {
        parser.setApplicationDescription(
            QStringLiteral("Estação de captura de fotos de alunos (student photo station)."));
        parser.addOption(demo);
        parser.addOption(cameraFile);
    }
};

// --help, --version and a missing display are answered on the terminal, before any
// display is needed; nothing when the window is to start. Qt's own options (-platform,
// ...) are only known once the application exists, so a command line this first look
// does not understand is left to that second one.
std::optional<int> answerOnTerminal(WindowOptions& options, const QStringList& arguments)
{
    QCommandLineParser& parser = options.parser;
    if (parser.parse(arguments)) {
        if (parser.isSet(options.help)) {
            std::fputs(qUtf8Printable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                                QStringLiteral("quvelocap")) +
                                      QLatin1Char('\n') + qc::Cli::helpText()),
                       stdout);
            return 0;
        }
        if (parser.isSet(options.version)) {
            std::printf("quvelocap %s\n", QUVELOCAP_VERSION);
            return 0;
        }
    }
    if (!displayAvailable(arguments)) {
        std::fputs("quvelocap: no display found (DISPLAY is not set).\n"
                   "Run it on a desktop, or in a virtual one:\n"
                   "  xvfb-run -a -s '-screen 0 1280x1024x24' quvelocap --demo\n",
                   stderr);
        return 2;
    }
    return std::nullopt;
}

// quvelocap.exe is a console program, so that its command line and log answer in cmd.exe
// and PowerShell. Started from the Start menu or Explorer, Windows gives it a console
// window of its own, empty beside the station's: it is let go, and closes. A console
// shared with a shell stays.
void releaseOwnConsole()
{
#ifdef _WIN32
    DWORD attached[2];
    if (GetConsoleProcessList(attached, 2) == 1)
        FreeConsole();
#endif
}

// The demo works on its own SQLite database with its own settings (a file beside it, or a
// registry key of its own on Windows), so that trying the station never touches the real
// settings. Null when either cannot be made.
std::unique_ptr<qc::SettingsStore> demoSettings()
{
    const QString database = qc::DemoDatabase::defaultPath();
    try {
        qc::DemoDatabase::ensure(database);
    } catch (const qc::Error& error) {
        qCCritical(lcShell, "demo database %s: %s", qUtf8Printable(database),
                   qUtf8Printable(error.description()));
        return nullptr;
    }
    auto settings = qc::openDemoSettings(QFileInfo(database).absolutePath());
    try {
        if (settings->server().isEmpty())
            settings->setServer(QStringLiteral("sqlite:") + database);
    } catch (const qc::Error& error) {
        qCCritical(lcShell, "demo settings: %s", qUtf8Printable(error.description()));
        return nullptr;
    }
    return settings;
}

int startWindow(const qc::StationServices& services, const QString& cameraFile)
{
    // Webcams through V4L2; the demo lists the built-in test pattern first.
    const auto capture = qc::QtCaptureLibrary::forStation(services.demo);
    if (!cameraFile.isEmpty())
        capture->addDriverFirst(std::make_unique<qc::PictureFileDriver>(cameraFile));
    qc::StationServices withCamera = services;
    withCamera.capture = capture.get();

    qc::FrmImageCapture window(withCamera);
    qc::StationDiagnostics::fromEnvironment(
        &window, window.findChild<QLabel*>(QStringLiteral("lblMensagem")));
    qc::UiStallProbe::fromEnvironment(&window);
    window.Form_Load();
    window.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && qc::Cli::isCommand(QString::fromLocal8Bit(argv[1])))
        return runCommand(argc, argv);

    WindowOptions options;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> answered = answerOnTerminal(options, arguments))
        return *answered;
    releaseOwnConsole();

    QApplication app(argc, argv);
    QApplication::setApplicationName(qc::applicationName());
    QApplication::setOrganizationName(qc::applicationName());
    QApplication::setApplicationVersion(QStringLiteral(QUVELOCAP_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUVELOCAP_APP_ID));
    options.parser.process(app);

    // Owned here, so that it ends (and its thread is joined) before main returns. The
    // window starts its model's load once it is first painted, not at the first grab.
    qc::FramingWorker framing;
    qc::QtDesktop desktop;
    const std::unique_ptr<qc::SettingsStore> stationSettings = qc::openStationSettings();
    std::unique_ptr<qc::SettingsStore> demo;
    qc::StationServices services;
    services.desktop = &desktop;
    services.appFolder = QApplication::applicationDirPath();
    services.demo = options.parser.isSet(options.demo);
    services.settings = stationSettings.get();
    services.framing = &framing;
    if (services.demo) {
        demo = demoSettings();
        if (!demo)
            return 1;
        services.settings = demo.get();
    }
    return startWindow(services, options.parser.value(options.cameraFile));
}
