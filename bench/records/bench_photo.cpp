// "&Salvar Foto" and "&Ver Foto" of a 640 x 480 photo, as the station runs them: the JPEG
// encoded by the image control, stored by GravarFoto and read back (and decoded) by
// LerFoto, in memory. On SQLite always; on PostgreSQL when QC_PG_* points at a
// server (scripts/pg-test-server.sh starts one).

#include "core/Desktop.h"
#include "core/Error.h"
#include "core/SettingsStore.h"
#include "imaging/ImageControl.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/Module1.h"
#include "records/PhotoRecords.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include "QuietServices.h"

namespace {


class Photo : public qc::PictureHolder
{
public:
    QImage image;
    void setPicture(const QImage& picture) override { image = picture; }
};

struct Target
{
    QString server, database, user, password;
};

QString g_appFolder;
QByteArray g_jpeg;

void run(benchmark::State& state, const Target& target, bool store)
{
    QuietDesktop desktop;
    NoSettings settings;
    qc::Module1 module(desktop, settings);
    module.setCaminhoApp(g_appFolder + QLatin1Char('/'));
    QString mensagem;
    qc::PhotoRecords records(module, [&](const QString& text) { mensagem = text; });
    try {
        auto cn = std::make_shared<qc::Connection>();
        cn->open(qc::ConnectionString::build(target.user, target.password, target.database,
                                             target.server),
                 target.user, target.password);
        cn->execute(QStringLiteral("DROP TABLE IF EXISTS Aca_FichaCadastralAluno"));
        cn->execute(QStringLiteral("CREATE TABLE Aca_FichaCadastralAluno (codigounidade "
                                   "varchar(10), matricula varchar(20), foto ") +
                    (cn->engine() == qc::ConnectionTarget::Engine::Sqlite
                         ? QStringLiteral("BLOB)")
                         : QStringLiteral("bytea)")));
        cn->execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES ('1', '1001', "
                                   "NULL)"));
        module.setCnBanco(cn);
    } catch (const qc::Error& e) {
        state.SkipWithError(qPrintable(e.description()));
        return;
    }
    const QString filter = QStringLiteral("codigounidade = ? and matricula = ?");
    const QVariantList values{QStringLiteral("1"), QStringLiteral("1001")};
    records.GravarFoto(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"), filter,
                       values, g_jpeg);
    Photo photo;
    for (auto _ : state) {
        if (store) {
            records.GravarFoto(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                               filter, values, g_jpeg);
        } else {
            records.LerFoto(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                            QStringLiteral("matricula"), QStringLiteral("1001"), photo,
                            QStringLiteral("1"));
            benchmark::DoNotOptimize(photo.image.constBits());
        }
    }
    const QString expected =
        store ? QStringLiteral("Foto salva com sucesso") : QStringLiteral("Foto lida com sucesso");
    if (mensagem != expected)
        state.SkipWithError(qPrintable(mensagem));
    state.SetBytesProcessed(state.iterations() * g_jpeg.size());
    state.SetLabel(QStringLiteral("%1 bytes").arg(g_jpeg.size()).toStdString());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_appFolder = dir.path();

    // The photo as the image control writes it: a 640 x 480 frame with camera-like detail.
    QImage frame(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb((x * 3 + y) % 256, (y * 2 + (x ^ y)) % 256, (x * y) % 256));
    {
        qc::ImageControl control;
        control.setPicture(frame);
        control.setSaveFormat(qc::ImageControl::SaveFormatJpeg);
        control.setSaveName(dir.filePath(QStringLiteral("written.jpg")));
        control.saveImage();
        QFile written(control.saveName());
        written.open(QIODevice::ReadOnly);
        g_jpeg = written.readAll();
    }

    const QString sqliteFile = dir.filePath(QStringLiteral("bench.sqlite"));
    {
        qc::Connection creator;
        creator.openSqlite(sqliteFile, true);
    }
    static const Target sqlite{QStringLiteral("sqlite:") + sqliteFile, {}, {}, {}};
    static const Target postgres{
        qEnvironmentVariable("QC_PG_SERVER"), qEnvironmentVariable("QC_PG_DATABASE"),
        qEnvironmentVariable("QC_PG_USER"), qEnvironmentVariable("QC_PG_PASSWORD")};
    std::vector<std::pair<const char*, const Target*>> engines{{"sqlite", &sqlite}};
    if (!postgres.server.isEmpty())
        engines.emplace_back("postgresql", &postgres);
    for (const auto& [name, target] : engines) {
        for (bool store : {true, false}) {
            benchmark::RegisterBenchmark(
                (std::string("Photo640x480/") + name + (store ? "/GravarFoto" : "/LerFoto"))
                    .c_str(),
                [target = target, store](benchmark::State& st) { run(st, *target, store); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
