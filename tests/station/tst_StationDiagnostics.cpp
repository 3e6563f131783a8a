// What the station reports about its screen to tools that drive it from outside.

#include "shell/StationDiagnostics.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using qc::StationDiagnostics;

namespace {

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Sends what this process writes to stderr into a file while it lives.
class StderrCapture
{
public:
    explicit StderrCapture(const QString& path)
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
        ::dup2(::fileno(file), 2);
        std::fclose(file);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
    }

private:
    int m_saved;
};

} // namespace

class TestStationDiagnostics : public QObject
{
    Q_OBJECT

private slots:
    void statusLine_data();
    void statusLine();
    void firstPaintReportedOnce();
    void nothingWatchedWithoutVariables();
};

void TestStationDiagnostics::statusLine_data()
{
    QTest::addColumn<QStringList>("captions"); // each one painted before the next
    QTest::addColumn<bool>("replaceBeforePaint");
    QTest::addColumn<QStringList>("expected");

    const QString design = QStringLiteral("-");
    QTest::newRow("design caption only") << QStringList{} << false << QStringList{design};
    QTest::newRow("each outcome in order")
        << QStringList{QStringLiteral("Foto salva com sucesso"),
                       QStringLiteral("Sem foto cadastrada")}
        << false
        << QStringList{design, QStringLiteral("Foto salva com sucesso"),
                       QStringLiteral("Sem foto cadastrada")};
    QTest::newRow("accents kept, line breaks joined")
        << QStringList{QStringLiteral("Registro não encontrado!"), QStringLiteral("Erro: a\nb")}
        << false
        << QStringList{design, QStringLiteral("Registro não encontrado!"),
                       QStringLiteral("Erro: a b")};
    QTest::newRow("a caption replaced before it was painted was never seen")
        << QStringList{QStringLiteral("Gravando"), QStringLiteral("Foto salva com sucesso")} << true
        << QStringList{design, QStringLiteral("Foto salva com sucesso")};
    QTest::newRow("a caption painted again is one line")
        << QStringList{QStringLiteral("Foto lida com sucesso"),
                       QStringLiteral("Foto lida com sucesso")}
        << false << QStringList{design, QStringLiteral("Foto lida com sucesso")};
}

void TestStationDiagnostics::statusLine()
{
    QFETCH(QStringList, captions);
    QFETCH(bool, replaceBeforePaint);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("status.txt"));

    QWidget window;
    auto* label = new QLabel(QStringLiteral("-"), &window);
    label->resize(400, 30);
    new StationDiagnostics(&window, label, false, path);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(linesOf(path), QStringList{QStringLiteral("-")});

    for (const QString& caption : captions) {
        label->setText(caption);
        if (replaceBeforePaint)
            continue;
        label->repaint(); // painted again even when the text did not change
        QTRY_COMPARE(linesOf(path).last(), QString(caption).replace('\n', ' '));
    }
    label->repaint();
    QTRY_COMPARE(linesOf(path), expected);
}

void TestStationDiagnostics::firstPaintReportedOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("stderr.txt"));
    const QString marker = QString::fromLatin1(StationDiagnostics::firstPaintMarker());
    {
        StderrCapture capture(path);
        QWidget window;
        window.resize(200, 100);
        new StationDiagnostics(&window, nullptr, true, QString());
        QCOMPARE(linesOf(path), QStringList{}); // not before the window is painted
        window.show();
        QTRY_COMPARE(linesOf(path), QStringList{marker});
        window.repaint();
        window.hide();
        window.show();
        window.repaint();
    }
    QCOMPARE(linesOf(path), QStringList{marker});
}

void TestStationDiagnostics::nothingWatchedWithoutVariables()
{
    qunsetenv("QUVELOCAP_REPORT_FIRST_PAINT");
    qunsetenv("QUVELOCAP_STATUS_FILE");
    QWidget window;
    auto* label = new QLabel(&window);
    QCOMPARE(StationDiagnostics::fromEnvironment(&window, label), nullptr);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("status.txt"));
    qputenv("QUVELOCAP_STATUS_FILE", QFile::encodeName(path));
    StationDiagnostics* watching = StationDiagnostics::fromEnvironment(&window, label);
    qunsetenv("QUVELOCAP_STATUS_FILE");
    QVERIFY(watching);
    QCOMPARE(watching->parent(), &window);
    label->setText(QStringLiteral("Sem foto cadastrada"));
    window.show();
    QTRY_COMPARE(linesOf(path), QStringList{QStringLiteral("Sem foto cadastrada")});
}

QTEST_MAIN(TestStationDiagnostics)
#include "tst_StationDiagnostics.moc"
