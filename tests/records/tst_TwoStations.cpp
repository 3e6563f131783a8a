// Two stations on one PostgreSQL database, as two processes of ours: both store different
// photos of the same student, interleaved; then one reads while the other stores. The
// field always holds one whole stored photo, every store that reported success left its
// bytes in the database, and every read shows a whole photo, the old one or a new one.

#include "DatabaseFixture.h"
#include "PhotoTestKit.h"
#include "records/Connection.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace phototest;

namespace {

const QString kUnit = QStringLiteral("0101");
const QString kEnrolment = QStringLiteral("2024001");
constexpr int kStores = 50;

QByteArray md5(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

// A station process, started and waiting for the word to go.
struct Station
{
    QProcess process;
    QStringList lines;

    void start(const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(QC_PHOTO_STATION), arguments);
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    }
    void go() { process.write("go\n"); }
    void take()
    {
        // A Windows station ends its lines with CR LF.
        lines += QString::fromUtf8(process.readAllStandardOutput())
                     .remove(QLatin1Char('\r'))
                     .split('\n', Qt::SkipEmptyParts);
    }
    // Waits for the station's report of its n-th attempt.
    bool waitForLines(qsizetype n)
    {
        take();
        while (lines.size() < n && process.waitForReadyRead(60000))
            take();
        return lines.size() >= n;
    }
    void finish()
    {
        process.closeWriteChannel();
        // On Windows, waiting for output also sees the end of a station that has
        // finished, and waitForFinished() then has nothing left to wait for.
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(240000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        take();
    }
};

} // namespace

class TestTwoStations : public QObject
{
    Q_OBJECT

    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    QTemporaryDir m_photos;
    QHash<QByteArray, QString> m_known;  // md5 of the bytes -> which photo
    QHash<QByteArray, QString> m_pixels; // md5 of the decoded pixels -> which photo

    // A photo of several 16 KiB chunks, different for every label and number, so that a
    // mix of two would show.
    QByteArray makePhoto(const QString& label, int number)
    {
        const QByteArray bytes =
            jpeg(pattern(200, 150, quint32(qHash(label)) * 1000 + quint32(number)), 95);
        const QString name = QStringLiteral("%1_%2").arg(label).arg(number);
        m_known.insert(md5(bytes), name);
        const QImage rgb = decoded(bytes);
        m_pixels.insert(QCryptographicHash::hash(QByteArrayView(rgb.constBits(), rgb.sizeInBytes()),
                                                 QCryptographicHash::Md5)
                            .toHex(),
                        name);
        return bytes;
    }

    void writePhotos(const QString& label)
    {
        for (int i = 0; i < kStores; ++i) {
            QFile file(m_photos.filePath(QStringLiteral("%1_%2.jpg").arg(label).arg(i)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(makePhoto(label, i));
        }
    }

    // Every committed update of the photo, kept by a trigger in the same transaction: a
    // store that reported success and left no line here lost its bytes.
    void logUpdates()
    {
        m_cn->execute(QStringLiteral("DROP TABLE IF EXISTS foto_log"));
        m_cn->execute(QStringLiteral("CREATE TABLE foto_log (seq serial, md5 text)"));
        m_cn->execute(
            QStringLiteral("CREATE OR REPLACE FUNCTION log_foto() RETURNS trigger AS $$ BEGIN "
                           "INSERT INTO foto_log (md5) VALUES (md5(NEW.foto)); RETURN NEW; END $$ "
                           "LANGUAGE plpgsql"));
        m_cn->execute(QStringLiteral(
            "CREATE TRIGGER log_foto AFTER UPDATE ON Aca_FichaCadastralAluno FOR EACH ROW "
            "EXECUTE FUNCTION log_foto()"));
    }

    QStringList committedPhotos()
    {
        qc::Recordset rs;
        rs.open(QStringLiteral("SELECT md5 FROM foto_log ORDER BY seq"), m_cn);
        QStringList photos;
        for (; !rs.eof(); rs.moveNext())
            photos.append(m_known.value(rs.fields(QStringLiteral("md5")).value().toByteArray(),
                                        QStringLiteral("unknown")));
        rs.close();
        return photos;
    }

    QByteArray storedPhoto() { return photoOf(m_cn, kUnit, kEnrolment).toByteArray(); }

    // The photos a station reported as stored, in its order; failures go to errors.
    static QStringList storedBy(const Station& station, const QString& label, QStringList& errors)
    {
        QStringList ok;
        for (const QString& line : station.lines) {
            const QStringList parts = line.split(' ');
            if (parts.value(0) != QLatin1String("store"))
                continue;
            if (parts.value(2) == QLatin1String("ok"))
                ok.append(QStringLiteral("%1_%2").arg(label, parts.value(1)));
            else
                errors.append(label + QLatin1Char(' ') + line);
        }
        return ok;
    }

private slots:
    void initTestCase()
    {
        if (!DatabaseFixture::engines().contains(QLatin1String("postgresql")))
            QSKIP("no PostgreSQL test server configured (QC_PG_SERVER)");
        QVERIFY(m_photos.isValid());
    }

    void init()
    {
        m_db = std::make_unique<DatabaseFixture>(QStringLiteral("postgresql"));
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        m_known.clear();
        m_pixels.clear();
        insertStudent(*m_cn, kUnit, kEnrolment, makePhoto(QStringLiteral("old"), 0));
        logUpdates();
    }

    void cleanup()
    {
        m_cn.reset();
        m_db.reset();
    }

    void twoStationsStoreTheSameStudent()
    {
        writePhotos(QStringLiteral("A"));
        writePhotos(QStringLiteral("B"));
        Station a, b;
        a.start({QStringLiteral("store"), m_photos.path(), QStringLiteral("A"),
                 QString::number(kStores)});
        b.start({QStringLiteral("store"), m_photos.path(), QStringLiteral("B"),
                 QString::number(kStores)});
        // Both stores of a round start together and race for the same row.
        for (int round = 1; round <= kStores; ++round) {
            a.go();
            b.go();
            QVERIFY(a.waitForLines(round));
            QVERIFY(b.waitForLines(round));
        }
        a.finish();
        b.finish();
        QCOMPARE(a.lines.size(), kStores);
        QCOMPARE(b.lines.size(), kStores);

        QStringList errors;
        const QStringList okA = storedBy(a, QStringLiteral("A"), errors);
        const QStringList okB = storedBy(b, QStringLiteral("B"), errors);
        const QStringList committed = committedPhotos();
        qInfo("stores reported ok: A %lld, B %lld; failed: %lld; committed updates: %lld",
              qlonglong(okA.size()), qlonglong(okB.size()), qlonglong(errors.size()),
              qlonglong(committed.size()));
        // The row always exists and each store waits for the other's to end: none may fail.
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        // The two really took turns: the committed order switches between them.
        int turns = 0;
        for (qsizetype i = 1; i < committed.size(); ++i)
            turns += committed[i].at(0) != committed[i - 1].at(0);
        qInfo("the committed order switches station %d times", turns);
        QVERIFY(turns > 0);

        // Each reported success is one committed update with exactly its photo, and
        // nothing else was committed.
        QStringList reported = okA + okB;
        QStringList sortedCommitted = committed;
        reported.sort();
        sortedCommitted.sort();
        QCOMPARE(sortedCommitted, reported);
        // The field holds a whole photo: the last one either station stored.
        const QString last = m_known.value(md5(storedPhoto()), QStringLiteral("a mix"));
        QVERIFY2((!okA.isEmpty() && last == okA.last()) || (!okB.isEmpty() && last == okB.last()),
                 qPrintable(last));
        QVERIFY2(!okA.isEmpty() && !okB.isEmpty(), "one station never stored");
    }

    void oneStationReadsWhileTheOtherStores()
    {
        writePhotos(QStringLiteral("B"));
        Station reader, writer;
        reader.start({QStringLiteral("read"), m_photos.path(), QStringLiteral("R"),
                      QStringLiteral("100000")});
        writer.start({QStringLiteral("store"), m_photos.path(), QStringLiteral("B"),
                      QString::number(kStores)});
        // The reader is under way before the writer starts, and goes on until it is done.
        reader.go();
        QVERIFY(reader.waitForLines(1));
        for (int round = 1; round <= kStores; ++round) {
            writer.go();
            QVERIFY(writer.waitForLines(round));
        }
        writer.finish();
        QFile stop(m_photos.filePath(QStringLiteral("stop")));
        QVERIFY(stop.open(QIODevice::WriteOnly));
        stop.close();
        reader.finish();
        stop.remove();

        QStringList errors;
        const QStringList stored = storedBy(writer, QStringLiteral("B"), errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
        QCOMPARE(stored.size(), kStores);

        QHash<QString, int> seen;
        for (const QString& line : reader.lines) {
            const QStringList parts = line.split(' ');
            QCOMPARE(parts.value(0), QStringLiteral("read"));
            // Every read shows a photo, and it is one that was stored whole: a photo made of
            // two would decode to pixels of neither, or not at all.
            QVERIFY2(parts.value(2) != QLatin1String("-"), qPrintable(line));
            const QString photo = m_pixels.value(parts.value(2).toLatin1());
            QVERIFY2(photo == QLatin1String("old_0") || stored.contains(photo), qPrintable(line));
            ++seen[photo == QLatin1String("old_0") ? QStringLiteral("old") : QStringLiteral("new")];
        }
        qInfo("reads: %d of the old photo, %d of a new one, 0 torn", seen.value("old"),
              seen.value("new"));
        QVERIFY(seen.value("old") > 0);
        QVERIFY(seen.value("new") > 0);
        QCOMPARE(m_known.value(md5(storedPhoto())), stored.last());
    }
};

QTEST_GUILESS_MAIN(TestTwoStations)
#include "tst_TwoStations.moc"
