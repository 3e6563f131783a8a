// QuveloCap: the student identification photo station.

#include "core/AppInfo.h"
#include "shell/FrmImageCapture.h"
#include "shell/QtDesktop.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>

namespace {

// Without a display Qt would abort with a terse message; say how to see the station.
bool displayAvailable()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
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
    if (!displayAvailable()) {
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

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Estação de captura de fotos de alunos (student photo station)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Run on the built-in demonstration database and test-pattern camera."));
    parser.addOption(demo);
    parser.process(app);

    qc::QtDesktop desktop;
    qc::StationServices services;
    services.desktop = &desktop;
    services.appFolder = QApplication::applicationDirPath();
    services.demo = parser.isSet(demo);

    qc::FrmImageCapture window(services);
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
