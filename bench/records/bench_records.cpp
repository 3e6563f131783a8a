// Writing and reading one photo through the data-access layer, on SQLite and, when
// QC_PG_* points at a server (see scripts/pg-test-server.sh), on PostgreSQL via psqlODBC.
// The store and the read go the way the station does them: cleared, appended in 16 KiB
// chunks and updated in one transaction; read back with the size and 16 KiB chunks.

#include "core/Error.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/Recordset.h"
#include "records/Transaction.h"

#include <QTemporaryDir>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr qint64 kChunk = 16384;

struct Target
{
    QString server, database, user, password;
};

std::shared_ptr<qc::Connection> connect(const Target& t)
{
    auto cn = std::make_shared<qc::Connection>();
    cn->open(qc::ConnectionString::build(t.user, t.password, t.database, t.server), t.user,
             t.password);
    return cn;
}

void prepare(qc::Connection& cn, bool sqlite)
{
    cn.execute(QStringLiteral("DROP TABLE IF EXISTS Aca_FichaCadastralAluno"));
    cn.execute(QStringLiteral("CREATE TABLE Aca_FichaCadastralAluno (codigounidade varchar(10), "
                              "matricula varchar(20), foto ") +
               (sqlite ? QStringLiteral("BLOB)") : QStringLiteral("bytea)")));
    cn.execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno VALUES ('1', '1001', NULL)"));
}

void store(const std::shared_ptr<qc::Connection>& cn, const QByteArray& photo)
{
    qc::Transaction work(*cn);
    qc::Recordset rs;
    rs.setUpdateTarget(QStringLiteral("Aca_FichaCadastralAluno"),
                       {QStringLiteral("codigounidade"), QStringLiteral("matricula")});
    rs.open(QStringLiteral("SELECT * FROM Aca_FichaCadastralAluno WHERE codigounidade = ? and "
                           "matricula = ?"),
            cn, {QStringLiteral("1"), QStringLiteral("1001")});
    qc::Field& foto = rs.fields(QStringLiteral("foto"));
    foto.setNull();
    rs.update();
    const qsizetype rest = photo.size() % kChunk;
    if (rest)
        foto.appendChunk(photo.left(rest));
    for (qsizetype at = rest; at < photo.size(); at += kChunk)
        foto.appendChunk(photo.mid(at, kChunk));
    rs.update();
    rs.close();
    work.commit();
}

qint64 read(const std::shared_ptr<qc::Connection>& cn)
{
    qc::Recordset rs;
    rs.open(QStringLiteral("SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                           "CodigoUnidade = ? and matricula = ?"),
            cn, {QStringLiteral("1"), QStringLiteral("1001")});
    qc::Field& foto = rs.fields(QStringLiteral("foto"));
    const qint64 size = foto.actualSize();
    qint64 got = 0;
    for (qint64 asked = 0; asked < size; asked += kChunk)
        got += foto.getChunk(kChunk).size();
    return got;
}

void run(benchmark::State& state, const Target& target, bool sqlite, bool doStore, bool doRead)
{
    const QByteArray photo(state.range(0), 'j');
    std::shared_ptr<qc::Connection> cn;
    try {
        cn = connect(target);
        prepare(*cn, sqlite);
        store(cn, photo);
    } catch (const qc::Error& e) {
        state.SkipWithError(qPrintable(e.description()));
        return;
    }
    for (auto _ : state) {
        if (doStore)
            store(cn, photo);
        if (doRead)
            benchmark::DoNotOptimize(read(cn));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetLabel(qPrintable(cn->maskedTarget()));
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.sqlite"));
    {
        qc::Connection creator;
        creator.openSqlite(file, true);
    }
    static const Target sqlite{QStringLiteral("sqlite:") + file, {}, {}, {}};
    static const Target postgres{
        qEnvironmentVariable("QC_PG_SERVER"), qEnvironmentVariable("QC_PG_DATABASE"),
        qEnvironmentVariable("QC_PG_USER"), qEnvironmentVariable("QC_PG_PASSWORD")};

    struct Engine
    {
        const char* name;
        const Target* target;
        bool sqlite;
    };
    std::vector<Engine> engines{{"sqlite", &sqlite, true}};
    if (!postgres.server.isEmpty())
        engines.push_back({"postgresql", &postgres, false});
    for (const Engine& e : engines) {
        for (auto [what, s, r] :
             {std::tuple{"store", true, false}, std::tuple{"read", false, true}}) {
            benchmark::RegisterBenchmark(
                (std::string("Photo/") + e.name + "/" + what).c_str(),
                [e, s = s, r = r](benchmark::State& st) { run(st, *e.target, e.sqlite, s, r); })
                ->Arg(40 * 1024)
                ->Arg(5 * 1000 * 1000)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
