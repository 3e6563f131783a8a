// A photo's road to the database and back, ours against the engine called directly on the
// same bytes in the same run: SQLite through its C API, PostgreSQL through psqlODBC.
// Rounds interleave the floor and ours and alternate two different photos (SQLite skips
// pages that did not change), so drift of the machine hits both alike. Heap figures count
// every allocation of the process (malloc is wrapped below); the floor's peak is what the
// driver itself needs, so ours minus the floor's is what our own code holds.
//
// Prints one line per measure: "ratio NAME VALUE" (time: ours / floor, medians; heap: our
// own peak / photo size). PostgreSQL runs when QC_PG_* name a server
// (scripts/pg-test-server.sh starts one).

#include "core/Desktop.h"
#include "core/Error.h"
#include "core/SettingsStore.h"
#include "records/Connection.h"
#include "records/ConnectionString.h"
#include "records/Module1.h"
#include "records/OdbcConnection.h"
#include "records/PhotoRecords.h"
#include "records/TdsServer.h" // the tests' loopback SQL Server

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#ifdef _WIN32
#include <windows.h> // the ODBC headers' types
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include "QuietServices.h"
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <string>
#include <vector>

// ---- heap accounting: every malloc of the process, current and peak bytes ----
// glibc lets a program put its own malloc in front of the real one; elsewhere (the
// Windows build) there are no heap figures, only times.
#ifdef __GLIBC__
constexpr bool kHeapCounted = true;
extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace heap {
std::atomic<long long> current{0};
std::atomic<long long> peak{0};
inline void grew(void* p)
{
    if (!p)
        return;
    const long long now = current += (long long)malloc_usable_size(p);
    long long seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}
inline void shrinking(void* p)
{
    if (p)
        current -= (long long)malloc_usable_size(p);
}
// Resets the peak to the present level and returns that level.
inline long long mark()
{
    const long long now = current.load();
    peak = now;
    return now;
}
} // namespace heap

extern "C" {
void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    heap::grew(p);
    return p;
}
void free(void* p)
{
    heap::shrinking(p);
    __libc_free(p);
}
void* calloc(size_t n, size_t m)
{
    void* p = __libc_calloc(n, m);
    heap::grew(p);
    return p;
}
void* realloc(void* old, size_t n)
{
    heap::shrinking(old);
    void* p = __libc_realloc(old, n);
    heap::grew(p ? p : (n ? nullptr : nullptr));
    if (!p && n && old)
        heap::grew(old); // failed: the old block stays
    return p;
}
void* memalign(size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    heap::grew(p);
    return p;
}
void* aligned_alloc(size_t a, size_t n)
{
    return memalign(a, n);
}
int posix_memalign(void** out, size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    if (!p)
        return 12; // ENOMEM
    heap::grew(p);
    *out = p;
    return 0;
}
}

#else
constexpr bool kHeapCounted = false;
namespace heap {
constexpr long long peak = 0;
inline long long mark()
{
    return 0;
}
} // namespace heap
#endif

namespace {

// A frame as a webcam gives it: smooth light, a few soft shapes, sensor noise.
QImage cameraFrame(int width, int height, quint32 seed, int noiseLevels)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator noise(seed);
    const double cx = width * (0.3 + 0.4 * (seed % 7) / 7.0), cy = height * 0.45;
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / width, dy = (y - cy) / height;
            const double face = std::max(0.0, 1.0 - 4.0 * (dx * dx + dy * dy));
            const int n = int(noise.bounded(noiseLevels)) - noiseLevels / 2;
            const int r = int(90 + 120 * face + 30.0 * x / width) + n;
            const int g = int(80 + 90 * face + 20.0 * y / height) + n;
            const int b = int(110 + 40 * face - 30.0 * x / width) + n;
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

QByteArray jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---- floors: the engine called directly on the same bytes ----

struct SqliteFloor
{
    sqlite3* db = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* select = nullptr;
    explicit SqliteFloor(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_prepare_v2(db,
                           "UPDATE floor_photo SET foto = ? WHERE codigounidade = ? AND "
                           "matricula = ?",
                           -1, &update, nullptr);
        sqlite3_prepare_v2(db,
                           "SELECT foto FROM floor_photo WHERE codigounidade = ? AND "
                           "matricula = ?",
                           -1, &select, nullptr);
    }
    ~SqliteFloor()
    {
        sqlite3_finalize(update);
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
    void store(const QByteArray& bytes)
    {
        sqlite3_bind_blob64(update, 1, bytes.constData(), sqlite3_uint64(bytes.size()),
                            SQLITE_STATIC);
        sqlite3_bind_text(update, 2, "1", 1, SQLITE_STATIC);
        sqlite3_bind_text(update, 3, "1001", 4, SQLITE_STATIC);
        if (sqlite3_step(update) != SQLITE_DONE)
            qFatal("floor store: %s", sqlite3_errmsg(db));
        sqlite3_reset(update);
    }
    QByteArray read()
    {
        sqlite3_bind_text(select, 1, "1", 1, SQLITE_STATIC);
        sqlite3_bind_text(select, 2, "1001", 4, SQLITE_STATIC);
        QByteArray out;
        if (sqlite3_step(select) == SQLITE_ROW)
            out = QByteArray(static_cast<const char*>(sqlite3_column_blob(select, 0)),
                             sqlite3_column_bytes(select, 0));
        sqlite3_reset(select);
        return out;
    }
};

// Text for the ODBC calls: UTF-16 where the headers ask for the wide calls (Qt's Windows
// build defines UNICODE), UTF-8 elsewhere. Kept alive until the next call.
#ifdef UNICODE
SQLWCHAR* odbcText(const QString& text)
{
    static std::wstring kept;
    kept = text.toStdWString();
    return reinterpret_cast<SQLWCHAR*>(kept.data());
}
#else
SQLCHAR* odbcText(const QString& text)
{
    static QByteArray kept;
    kept = text.toUtf8();
    return reinterpret_cast<SQLCHAR*>(kept.data());
}
#endif

struct OdbcFloor
{
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT update = SQL_NULL_HSTMT;
    SQLHSTMT select = SQL_NULL_HSTMT;
    explicit OdbcFloor(const QString& odbcString)
    {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, odbcText(odbcString), SQL_NTS, nullptr, 0,
                                            nullptr, SQL_DRIVER_NOPROMPT)))
            qFatal("floor connect failed");
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &update);
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &select);
        SQLPrepare(update,
                   odbcText(QStringLiteral("UPDATE floor_photo SET foto = ? WHERE "
                                           "codigounidade = ? AND matricula = ?")),
                   SQL_NTS);
        SQLPrepare(select,
                   odbcText(QStringLiteral("SELECT foto FROM floor_photo WHERE codigounidade "
                                           "= ? AND matricula = ?")),
                   SQL_NTS);
    }
    ~OdbcFloor()
    {
        SQLFreeHandle(SQL_HANDLE_STMT, update);
        SQLFreeHandle(SQL_HANDLE_STMT, select);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    void bindKeys(SQLHSTMT st, SQLUSMALLINT first)
    {
        static char unit[] = "1", enrolment[] = "1001";
        static SQLLEN unitLength = 1, enrolmentLength = 4;
        SQLBindParameter(st, first, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, unit, 1,
                         &unitLength);
        SQLBindParameter(st, SQLUSMALLINT(first + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20,
                         0, enrolment, 4, &enrolmentLength);
    }
    void store(const QByteArray& bytes)
    {
        SQLLEN length = SQLLEN(bytes.size());
        SQLBindParameter(update, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 0, 0,
                         const_cast<char*>(bytes.constData()), length, &length);
        bindKeys(update, 2);
        if (!SQL_SUCCEEDED(SQLExecute(update)))
            qFatal("floor store failed");
        SQLFreeStmt(update, SQL_RESET_PARAMS);
    }
    QByteArray read()
    {
        bindKeys(select, 1);
        QByteArray out;
        if (SQL_SUCCEEDED(SQLExecute(select)) && SQLFetch(select) == SQL_SUCCESS) {
            char first[16384];
            SQLLEN total = 0;
            SQLRETURN rc = SQLGetData(select, 1, SQL_C_BINARY, first, sizeof first, &total);
            if (SQL_SUCCEEDED(rc) && total >= 0) {
                out.resize(total);
                const SQLLEN got = std::min<SQLLEN>(total, sizeof first);
                std::memcpy(out.data(), first, size_t(got));
                if (total > got) {
                    SQLLEN rest = 0;
                    SQLGetData(select, 1, SQL_C_BINARY, out.data() + got, total - got + 1, &rest);
                }
            }
        }
        SQLCloseCursor(select);
        SQLFreeStmt(select, SQL_RESET_PARAMS);
        return out;
    }
};

// FreeTDS's ODBC driver called directly with the station's own statements and the
// bindings a plain program would choose: the photo whole as a long binary, keys as varchar.
struct SqlServerFloor : OdbcFloor
{
    // Executed directly, as the station does: FreeTDS sends each as one sp_executesql.
    static constexpr const char* Update =
        "UPDATE Aca_FichaCadastralAluno SET foto = ? WHERE (codigounidade = ? and matricula = "
        "?) AND (SELECT COUNT(*) FROM Aca_FichaCadastralAluno WHERE codigounidade = ? and "
        "matricula = ?) = 1";
    static constexpr const char* Select = "SELECT matricula, foto FROM Aca_FichaCadastralAluno "
                                          "WHERE CodigoUnidade = ? and matricula = ?";
    using OdbcFloor::OdbcFloor;
    void store(const QByteArray& bytes)
    {
        SQLLEN length = SQLLEN(bytes.size());
        SQLBindParameter(update, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                         SQLULEN(bytes.size()), 0, const_cast<char*>(bytes.constData()), length,
                         &length);
        bindKeys(update, 2);
        bindKeys(update, 4);
        SQLLEN rows = 0;
        if (!SQL_SUCCEEDED(SQLExecDirect(update, (SQLCHAR*)Update, SQL_NTS)) ||
            !SQL_SUCCEEDED(SQLRowCount(update, &rows)) || rows != 1)
            qFatal("floor store failed");
        SQLFreeStmt(update, SQL_CLOSE);
        SQLFreeStmt(update, SQL_RESET_PARAMS);
    }
    QByteArray read()
    {
        bindKeys(select, 1);
        QByteArray out;
        if (SQL_SUCCEEDED(SQLExecDirect(select, (SQLCHAR*)Select, SQL_NTS)) && SQLFetch(select) == SQL_SUCCESS) {
            char first[16384];
            SQLLEN total = 0;
            SQLRETURN rc = SQLGetData(select, 2, SQL_C_BINARY, first, sizeof first, &total);
            if (SQL_SUCCEEDED(rc) && total >= 0) {
                out.resize(total);
                const SQLLEN got = std::min<SQLLEN>(total, sizeof first);
                std::memcpy(out.data(), first, size_t(got));
                if (total > got) {
                    SQLLEN rest = 0;
                    SQLGetData(select, 2, SQL_C_BINARY, out.data() + got, total - got + 1, &rest);
                }
            }
        }
        SQLCloseCursor(select);
        SQLFreeStmt(select, SQL_RESET_PARAMS);
        return out;
    }
};

// ---- ours: the station's photo records on the same database ----

struct Ours
{
    QuietDesktop desktop;
    NoSettings settings;
    qc::Module1 module{desktop, settings};
    QString mensagem;
    qc::PhotoRecords records{module, [this](const QString& text) { mensagem = text; }};
    QString folder;

    Ours(const QString& server, const QString& database, const QString& user,
         const QString& password, const QString& folder_)
        : folder(folder_)
    {
        module.setCaminhoApp(folder + QLatin1Char('/'));
        auto cn = std::make_shared<qc::Connection>();
        cn->open(qc::ConnectionString::build(user, password, database, server), user, password);
        module.setCnBanco(cn);
    }

    // The bytes the photo control produced, stored for unit 1, enrolment 1001.
    void store(const QByteArray& bytes)
    {
        if (records.storePhoto(QStringLiteral("1"), QStringLiteral("1001"), bytes) !=
            qc::PhotoRecords::Outcome::Done)
            qFatal("store: no row");
    }

    // The stored bytes, as they reach the picture decoder.
    QByteArray read()
    {
        QByteArray bytes;
        if (records.readPhoto(QStringLiteral("1"), QStringLiteral("1001"), bytes) !=
            qc::PhotoRecords::Outcome::Done)
            qFatal("read: no photo");
        return bytes;
    }
};

void createTables(qc::Connection& cn, bool sqlite)
{
    const QString blob = sqlite ? QStringLiteral("BLOB") : QStringLiteral("bytea");
    for (const QString& table :
         {QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("floor_photo")}) {
        cn.execute(QStringLiteral("DROP TABLE IF EXISTS ") + table);
        cn.execute(QStringLiteral("CREATE TABLE ") + table +
                   QStringLiteral(" (codigounidade varchar(10), matricula varchar(20), foto ") +
                   blob + QLatin1Char(')'));
        cn.execute(QStringLiteral("INSERT INTO ") + table +
                   QStringLiteral(" VALUES ('1', '1001', NULL)"));
    }
}

template <typename Floor>
void measure(const char* name, Floor& floor, Ours& ours, const QByteArray (&photos)[2], int rounds,
             bool heapToo)
{
    std::vector<double> floorTimes, ourTimes;
    long long floorStorePeak = 0, floorReadPeak = 0, ourStorePeak = 0, ourReadPeak = 0;
    QElapsedTimer clock;
    auto check = [](const QByteArray& got, const QByteArray& want) {
        if (got != want)
            qFatal("read back %lld bytes, stored %lld", qint64(got.size()), qint64(want.size()));
    };
    for (int round = -1; round < rounds; ++round) { // round -1 warms up
        const QByteArray& photo = photos[(round + 2) % 2];
        long long base = heap::mark();
        clock.start();
        floor.store(photo);
        floorStorePeak = std::max(floorStorePeak, heap::peak - base);
        base = heap::mark();
        QByteArray back = floor.read();
        floorReadPeak = std::max(floorReadPeak, heap::peak - base);
        const double floorTime = double(clock.nsecsElapsed());
        check(back, photo);
        back.clear();

        base = heap::mark();
        clock.start();
        ours.store(photo);
        ourStorePeak = std::max(ourStorePeak, heap::peak - base);
        base = heap::mark();
        back = ours.read();
        ourReadPeak = std::max(ourReadPeak, heap::peak - base);
        const double ourTime = double(clock.nsecsElapsed());
        check(back, photo);
        if (round >= 0) {
            floorTimes.push_back(floorTime);
            ourTimes.push_back(ourTime);
        }
    }
    const double size = double(photos[0].size());
    std::printf("# %s: photo %lld bytes, floor %.2f ms, ours %.2f ms", name,
                qint64(photos[0].size()), median(floorTimes) / 1e6, median(ourTimes) / 1e6);
    if (kHeapCounted)
        std::printf("; peak heap floor %.2f / %.2f MB, ours %.2f / %.2f MB (store / read)",
                    floorStorePeak / 1e6, floorReadPeak / 1e6, ourStorePeak / 1e6,
                    ourReadPeak / 1e6);
    std::printf("\n");
    std::printf("ratio %s_store_read %.3f\n", name, median(ourTimes) / median(floorTimes));
    if (heapToo && kHeapCounted) {
        // Our own peak: beyond what the driver needed for the same bytes; the read's result
        // is the photo itself, held by the floor as well.
        std::printf("ratio %s_store_heap %.3f\n", name,
                    double(ourStorePeak - floorStorePeak) / size);
        std::printf("ratio %s_read_heap %.3f\n", name,
                    double(ourReadPeak - floorReadPeak + photos[0].size()) / size);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int rounds = qEnvironmentVariableIntValue("QC_BENCH_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("QC_BENCH_ROUNDS")
                           : 15;

    const QByteArray small[2] = {jpeg(cameraFrame(640, 480, 1, 10), 90),
                                 jpeg(cameraFrame(640, 480, 2, 10), 90)};
    const QByteArray large[2] = {jpeg(cameraFrame(4000, 3000, 3, 15), 97),
                                 jpeg(cameraFrame(4000, 3000, 4, 15), 97)};
    std::printf("# photos: %lld and %lld bytes (640x480 q90), %lld and %lld bytes (4000x3000 "
                "q97)\n",
                qint64(small[0].size()), qint64(small[1].size()), qint64(large[0].size()),
                qint64(large[1].size()));

    try {
        const QString sqliteFile = dir.filePath(QStringLiteral("bench.sqlite"));
        {
            qc::Connection creator;
            creator.openSqlite(sqliteFile, true);
            createTables(creator, true);
        }
        SqliteFloor floor(sqliteFile);
        Ours ours(QStringLiteral("sqlite:") + sqliteFile, {}, {}, {}, dir.path());
        measure("sqlite_47kb", floor, ours, small, rounds * 4, false);
        measure("sqlite_5mb", floor, ours, large, rounds, true);
    } catch (const qc::Error& e) {
        std::printf("# sqlite: %s\n", qPrintable(e.description()));
    }

    const QString server = qEnvironmentVariable("QC_PG_SERVER");
    if (!server.isEmpty()) {
        const QString db = qEnvironmentVariable("QC_PG_DATABASE");
        const QString us = qEnvironmentVariable("QC_PG_USER");
        const QString pw = qEnvironmentVariable("QC_PG_PASSWORD");
        try {
            Ours ours(server, db, us, pw, dir.path());
            createTables(*ours.module.cnBanco(), false);
            const qc::ConnectionTarget target = qc::ConnectionString::translate(
                qc::ConnectionString::parse(qc::ConnectionString::build(us, pw, db, server), us,
                                            pw),
                us, pw, QString());
            OdbcFloor floor(target.odbcString);
            measure("pg_47kb", floor, ours, small, rounds * 4, false);
            measure("pg_5mb", floor, ours, large, rounds, true);
        } catch (const qc::Error& e) {
            std::printf("# postgresql: %s\n", qPrintable(e.description()));
        }
    } else {
        std::printf("# postgresql: QC_PG_SERVER not set, skipped\n");
    }
    // SQL Server: FreeTDS against the tests' loopback server that answers in TDS.
    try {
        TdsServer tds;
        tds.students = {{QStringLiteral("1"), QStringLiteral("1001"), std::nullopt}};
        tds.plpChunk = 8000;
        Ours ours(tds.server(), QStringLiteral("escola"), QStringLiteral("sa"), tds.password,
                  dir.path());
        const qc::ConnectionTarget target = qc::ConnectionString::translate(
            qc::ConnectionString::parse(qc::ConnectionString::build(QStringLiteral("sa"),
                                                                    tds.password,
                                                                    QStringLiteral("escola"),
                                                                    tds.server()),
                                        QStringLiteral("sa"), tds.password),
            QStringLiteral("sa"), tds.password, qc::OdbcConnection::sqlServerDriver());
        SqlServerFloor floor(target.odbcString);
        measure("sqlserver_47kb", floor, ours, small, rounds * 4, false);
        measure("sqlserver_5mb", floor, ours, large, rounds, true);
    } catch (const qc::Error& e) {
        std::printf("# sqlserver: %s\n", qPrintable(e.description()));
    }
    return 0;
}
