// QuveloCap: the student identification photo station.

#include "camera/PictureFileDriver.h"
#include "camera/QtCaptureLibrary.h"
#include "cli/Cli.h"
#include "cli/Console.h"
#include "core/AppInfo.h"
#include "core/Error.h"
#include "core/Logging.h"
#include "records/DemoDatabase.h"
#include "settings/QtSettingsStore.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"
#include "shell/StationDiagnostics.h"

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

} // namespace

int main(int argc, char* argv[])
{
    // export, import, report: no window and no display, only the stored settings.
    if (argc > 1 && qc::Cli::isCommand(QString::fromLocal8Bit(argv[1]))) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(qc::applicationName());
        QCoreApplication::setOrganizationName(qc::applicationName());
        QCoreApplication::setApplicationVersion(QStringLiteral(QUVELOCAP_VERSION));
        // Every failure is reported once, in the run's own list: a file that is not a
        // picture, a refused store, the connection. QT_LOGGING_RULES still brings the log back.
        QLoggingCategory::setFilterRules(
            QStringLiteral("qt.gui.imageio*=false\nquvelocap.records.warning=false"));
        qc::QtSettingsStore settings;
        qc::Console console = qc::Console::standard();
        return qc::Cli::run(QCoreApplication::arguments(), settings, console);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Estação de captura de fotos de alunos (student photo station)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Run on the built-in demonstration database and test-pattern camera."));
    parser.addOption(demo);
    const QCommandLineOption cameraFile(
        QStringLiteral("camera-file"),
        QStringLiteral("Add a camera that shows a picture file, or the pictures of a folder in "
                       "turn, first in the device list."),
        QStringLiteral("path"));
    parser.addOption(cameraFile);

    // --help and --version answer on a terminal too, before any display is needed. Qt's
    // own options (-platform, ...) are only known once the application exists, so a
    // command line this first look does not understand is left to that second one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments)) {
        if (parser.isSet(help)) {
            std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                            QStringLiteral("quvelocap")) +
                                  QLatin1Char('\n') + qc::Cli::helpText()),
                       stdout);
            return 0;
        }
        if (parser.isSet(version)) {
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

    QApplication app(argc, argv);
    QApplication::setApplicationName(qc::applicationName());
    QApplication::setOrganizationName(qc::applicationName());
    QApplication::setApplicationVersion(QStringLiteral(QUVELOCAP_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUVELOCAP_APP_ID));
    parser.process(app);

    qc::QtDesktop desktop;
    qc::StationServices services;
    services.desktop = &desktop;
    services.appFolder = QApplication::applicationDirPath();
    services.demo = parser.isSet(demo);

    // The demo works on its own SQLite database with its own settings file, so that
    // trying the station never touches the real settings.
    qc::QtSettingsStore stationSettings;
    std::unique_ptr<qc::QtSettingsStore> demoSettings;
    services.settings = &stationSettings;
    if (services.demo) {
        const QString database = qc::DemoDatabase::defaultPath();
        try {
            qc::DemoDatabase::ensure(database);
        } catch (const qc::Error& error) {
            qCCritical(lcShell, "demo database %s: %s", qUtf8Printable(database),
                       qUtf8Printable(error.description()));
            return 1;
        }
        demoSettings = std::make_unique<qc::QtSettingsStore>(QFileInfo(database).absolutePath() +
                                                             QStringLiteral("/demo-settings.conf"));
        try {
            if (demoSettings->value(QStringLiteral("srv")).isEmpty())
                demoSettings->setValue(QStringLiteral("srv"), QStringLiteral("sqlite:") + database);
        } catch (const qc::Error& error) {
            qCCritical(lcShell, "demo settings: %s", qUtf8Printable(error.description()));
            return 1;
        }
        services.settings = demoSettings.get();
    }

    // Webcams through V4L2; the demo lists the built-in test pattern first.
    const auto capture = qc::QtCaptureLibrary::forStation(desktop, services.demo);
    if (parser.isSet(cameraFile))
        capture->addDriverFirst(std::make_unique<qc::PictureFileDriver>(parser.value(cameraFile)));
    services.capture = capture.get();

    qc::FrmImageCapture window(services);
    qc::StationDiagnostics::fromEnvironment(
        &window, window.findChild<QLabel*>(QStringLiteral("lblMensagem")));
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
