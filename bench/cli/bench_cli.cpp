// A whole unit's photos through the command line on the PostgreSQL test server, beside a
// libpq loop that runs the same statements and the same file writes on the same bytes.
//
//   bench_cli QUVELOCAP_PROGRAM [STUDENTS=10000]
// with QC_PG_SERVER, QC_PG_DATABASE, QC_PG_USER, QC_PG_PASSWORD pointing at the server
// (scripts/pg-test-server.sh start ...). Two units are filled: STUDENTS/10 and STUDENTS
// students, each with its own camera-like JPEG of about 47 KB (a JPEG comment carries the
// student's number, so no two photos are the same bytes). The program runs as a child
// process, so its peak memory is its own; the floor runs in this process. Runs are
// interleaved (ours, floor, floor, ours) and the rates summed over both rounds.
//
// Lines: "ratio NAME VALUE"; "#" lines give the figures behind them.
//   cli_export, cli_import         our photos/s over the floor's (goal >= 0.5)
//   cli_import_sql_only            the same against a floor that does not check the pictures
//   cli_export_memory, cli_import_memory
//                                  (peak of the big unit - peak of the small one) over
//                                  (one photo + 1 MiB): goal <= 1

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <libpq-fe.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

[[noreturn]] void die(const char* what, const char* detail = "")
{
    std::fprintf(stderr, "bench_cli: %s %s\n", what, detail);
    std::exit(1);
}

// ---- the photo -------------------------------------------------------------------------

// A frame as a webcam gives it: soft light, a face-like oval, shirt, sensor noise.
QImage cameraFrame(int noise)
{
    QImage image(480, 640, QImage::Format_RGB32);
    QRandomGenerator random(2026);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double dx = (x - 240) / 120.0, dy = (y - 260) / 160.0;
            const double face = dx * dx + dy * dy;
            int r, g, b;
            if (face < 1.0) {
                const double shade = 1.0 - 0.35 * face - 0.1 * dx;
                r = int(205 * shade), g = int(160 * shade), b = int(135 * shade);
            } else if (y > 470) {
                r = 40 + x / 20, g = 60 + x / 24, b = 110 + (y - 470) / 6;
            } else {
                r = 170 + y / 12, g = 180 + y / 14, b = 190 - x / 16;
            }
            const int n = noise ? int(random.bounded(2 * noise + 1)) - noise : 0;
            line[x] = qRgb(qBound(0, r + n, 255), qBound(0, g + n, 255), qBound(0, b + n, 255));
        }
    }
    return image;
}

QByteArray jpegOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    if (!writer.write(image))
        die("JPEG encoding failed");
    return bytes;
}

// The noise that brings the frame nearest to 47 KB.
QByteArray basePhoto()
{
    QByteArray best;
    for (int noise = 1; noise <= 40; ++noise) {
        QByteArray bytes = jpegOf(cameraFrame(noise));
        if (best.isEmpty() || qAbs(bytes.size() - 47000) < qAbs(best.size() - 47000))
            best = bytes;
        if (bytes.size() > 47000)
            break;
    }
    return best;
}

// The same picture with the student's number in a comment right after the start marker.
QByteArray photoOf(const QByteArray& base, int student)
{
    const QByteArray text = "aluno " + QByteArray::number(student).rightJustified(8, '0');
    QByteArray comment("\xFF\xFE", 2);
    comment.append(char((text.size() + 2) >> 8))
        .append(char((text.size() + 2) & 0xFF))
        .append(text);
    return base.left(2) + comment + base.mid(2);
}

// ---- libpq -----------------------------------------------------------------------------

struct Result
{
    PGresult* r;
    explicit Result(PGresult* result) : r(result) {}
    ~Result() { PQclear(r); }
};

PGresult* check(PGconn* c, PGresult* r)
{
    const ExecStatusType s = PQresultStatus(r);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)
        die("statement failed:", PQerrorMessage(c));
    return r;
}

void exec(PGconn* c, const char* sql)
{
    Result r(check(c, PQexec(c, sql)));
}

// Text parameters, binary results: the leanest way libpq offers.
PGresult* query(PGconn* c, const char* sql, std::initializer_list<QByteArray> params)
{
    std::vector<const char*> values;
    for (const QByteArray& p : params)
        values.push_back(p.constData());
    return check(
        c, PQexecParams(c, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 1));
}

PGconn* connectPg()
{
    const QUrl url(qEnvironmentVariable("QC_PG_SERVER"));
    if (url.host().isEmpty())
        die("QC_PG_SERVER is not set");
    const QByteArray info =
        QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 password=%5")
            .arg(url.host())
            .arg(url.port(5432))
            .arg(qEnvironmentVariable("QC_PG_DATABASE"), qEnvironmentVariable("QC_PG_USER"),
                 qEnvironmentVariable("QC_PG_PASSWORD"))
            .toUtf8();
    PGconn* c = PQconnectdb(info.constData());
    if (PQstatus(c) != CONNECTION_OK)
        die("cannot connect:", PQerrorMessage(c));
    return c;
}

QByteArray matriculaOf(int unit, int i)
{
    return QByteArray::number(unit * 10'000'000 + i);
}

void fill(PGconn* c, const QByteArray& base, int small, int big)
{
    exec(c, "DROP TABLE IF EXISTS bas_unidades");
    exec(c, "DROP TABLE IF EXISTS Aca_FichaCadastralAluno");
    exec(c, "CREATE TABLE bas_unidades (codigounidade varchar(10), RazaoSocial varchar(100))");
    exec(c, "CREATE TABLE Aca_FichaCadastralAluno (codigounidade varchar(10), matricula "
            "varchar(20), foto bytea)");
    // A school's table is looked up by unit and enrolment number: it has this index.
    exec(c, "CREATE INDEX aluno_unidade_matricula ON Aca_FichaCadastralAluno (codigounidade, "
            "matricula)");
    exec(c, "INSERT INTO bas_unidades VALUES ('1', 'Pequena'), ('2', 'Grande')");
    exec(c, "BEGIN");
    for (int unit = 1; unit <= 2; ++unit) {
        const QByteArray code = QByteArray::number(unit);
        for (int i = 0; i < (unit == 1 ? small : big); ++i) {
            const QByteArray enrolment = matriculaOf(unit, i);
            const QByteArray photo = photoOf(base, unit * 10'000'000 + i);
            const char* values[] = {code.constData(), enrolment.constData(), photo.constData()};
            const int lengths[] = {0, 0, int(photo.size())};
            const int formats[] = {0, 0, 1};
            Result r(
                check(c, PQexecParams(c, "INSERT INTO Aca_FichaCadastralAluno VALUES ($1, $2, $3)",
                                      3, nullptr, values, lengths, formats, 0)));
        }
    }
    exec(c, "COMMIT");
    exec(c, "VACUUM ANALYZE Aca_FichaCadastralAluno");
}

// ---- the floor: what the program does, with the libraries called directly ---------------

void writeFileInto(int dir, const char* name, const char* data, int size, int serial)
{
    char temp[64];
    std::snprintf(temp, sizeof temp, ".floor-%d.tmp", serial);
    const int fd = openat(dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        die("open", std::strerror(errno));
    for (int done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size_t(size - done));
        if (n <= 0)
            die("write", std::strerror(errno));
        done += int(n);
    }
    struct stat st;
    if (fsync(fd) != 0 || fstat(fd, &st) != 0 || st.st_size != size || close(fd) != 0)
        die("write check");
    if (linkat(dir, temp, dir, name, 0) != 0 || unlinkat(dir, temp, 0) != 0)
        die("link", std::strerror(errno));
}

const char* const kPageFirst =
    "SELECT matricula, MAX(CASE WHEN foto IS NULL THEN 0 WHEN octet_length(foto) = 0 THEN 0 "
    "ELSE 1 END) AS comfoto FROM Aca_FichaCadastralAluno WHERE codigounidade = $1 AND matricula "
    "IS NOT NULL GROUP BY matricula HAVING MAX(CASE WHEN foto IS NULL THEN 0 WHEN "
    "octet_length(foto) = 0 THEN 0 ELSE 1 END) = 1 ORDER BY matricula LIMIT 256";
const char* const kPageAfter =
    "SELECT matricula, MAX(CASE WHEN foto IS NULL THEN 0 WHEN octet_length(foto) = 0 THEN 0 "
    "ELSE 1 END) AS comfoto FROM Aca_FichaCadastralAluno WHERE codigounidade = $1 AND matricula "
    "IS NOT NULL AND matricula > $2 GROUP BY matricula HAVING MAX(CASE WHEN foto IS NULL THEN 0 "
    "WHEN octet_length(foto) = 0 THEN 0 ELSE 1 END) = 1 ORDER BY matricula LIMIT 256";

qint64 floorExport(PGconn* c, const QByteArray& unit, const QString& path)
{
    QDir().mkpath(path);
    const int dir = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    Result(query(c, "SELECT COUNT(*) AS n FROM bas_unidades WHERE codigounidade = $1", {unit}));
    Result(query(c,
                 "SELECT COUNT(*) AS n FROM (SELECT matricula FROM Aca_FichaCadastralAluno "
                 "WHERE codigounidade = $1 AND matricula IS NOT NULL AND foto IS NOT NULL AND "
                 "octet_length(foto) > 0 GROUP BY matricula) AS alunos",
                 {unit}));
    qint64 written = 0;
    QByteArray last;
    for (bool after = false;; after = true) {
        Result page(after ? query(c, kPageAfter, {unit, last}) : query(c, kPageFirst, {unit}));
        const int rows = PQntuples(page.r);
        for (int i = 0; i < rows; ++i) {
            const QByteArray enrolment(PQgetvalue(page.r, i, 0), PQgetlength(page.r, i, 0));
            Result photo(query(c,
                               "SELECT matricula, foto FROM Aca_FichaCadastralAluno WHERE "
                               "CodigoUnidade = $1 and matricula = $2",
                               {unit, enrolment}));
            const QByteArray name = enrolment + ".jpg";
            writeFileInto(dir, name.constData(), PQgetvalue(photo.r, 0, 1),
                          PQgetlength(photo.r, 0, 1), int(written));
            ++written;
            last = enrolment;
        }
        if (rows < 256)
            break;
    }
    close(dir);
    return written;
}

struct JpegFailure
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

bool decodes(const QByteArray& bytes)
{
    jpeg_decompress_struct info;
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<JpegFailure*>(common->err)->jump, 1);
    };
    std::vector<JSAMPLE> row;
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    // The command checks a JPEG at an eighth of its size: every coded byte read, little
    // arithmetic.
    info.scale_num = 1;
    info.scale_denom = 8;
    jpeg_start_decompress(&info);
    row.resize(size_t(info.output_width) * size_t(info.output_components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

qint64 floorImport(PGconn* c, const QByteArray& unit, const QString& path, bool decode)
{
    const int dir = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    DIR* listing = fdopendir(dup(dir));
    Result(query(c, "SELECT COUNT(*) AS n FROM bas_unidades WHERE codigounidade = $1", {unit}));
    qint64 stored = 0;
    while (const dirent* entry = readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || !name.endsWith(".jpg"))
            continue;
        const int fd = openat(dir, entry->d_name, O_RDONLY | O_NONBLOCK);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0)
            die("open", entry->d_name);
        QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
        if (read(fd, bytes.data(), size_t(bytes.size())) != bytes.size())
            die("read", entry->d_name);
        close(fd);
        if (decode && !decodes(bytes))
            die("not a JPEG:", entry->d_name);
        const QByteArray enrolment = name.chopped(4);
        exec(c, "BEGIN");
        Result row(query(c,
                         "SELECT ctid, * FROM Aca_FichaCadastralAluno where codigounidade = "
                         "$1 and matricula = $2",
                         {unit, enrolment}));
        if (PQntuples(row.r) != 1)
            die("no row for", entry->d_name);
        const char* values[] = {bytes.constData(), PQgetvalue(row.r, 0, 0)};
        const int lengths[] = {int(bytes.size()), PQgetlength(row.r, 0, 0)};
        const int formats[] = {1, 1};
        const Oid types[] = {17 /* bytea */, 27 /* tid */};
        Result update(check(c, PQexecParams(c,
                                            "UPDATE Aca_FichaCadastralAluno SET foto = $1 "
                                            "WHERE ctid = (SELECT ctid FROM "
                                            "Aca_FichaCadastralAluno WHERE ctid = $2 LIMIT 1)",
                                            2, types, values, lengths, formats, 1)));
        exec(c, "COMMIT");
        ++stored;
    }
    closedir(listing);
    close(dir);
    return stored;
}

// ---- ours: the program in a child process -------------------------------------------------

struct ChildRun
{
    double seconds;
    long peakKiB;
};

ChildRun runProgram(const char* program, const QStringList& arguments, const QString& home)
{
    std::vector<QByteArray> storage;
    storage.push_back(program);
    for (const QString& a : arguments)
        storage.push_back(a.toUtf8());
    const QUrl url(qEnvironmentVariable("QC_PG_SERVER"));
    for (const QString& a : {QStringLiteral("--server"), qEnvironmentVariable("QC_PG_SERVER"),
                             QStringLiteral("--database"), qEnvironmentVariable("QC_PG_DATABASE"),
                             QStringLiteral("--user"), qEnvironmentVariable("QC_PG_USER")})
        storage.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStorage = {
        "XDG_CONFIG_HOME=" + QFile::encodeName(home),
        "QUVELOCAP_PASSWORD=" + qEnvironmentVariable("QC_PG_PASSWORD").toUtf8(),
        "PATH=" + qgetenv("PATH"), "HOME=" + QFile::encodeName(home)};
    std::vector<char*> envp;
    for (QByteArray& s : envStorage)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data()) != 0)
        die("cannot start", program);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        die("wait failed");
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die("the program failed:", qPrintable(arguments.join(QLatin1Char(' '))));
    return {seconds, usage.ru_maxrss};
}

double timed(const std::function<qint64()>& work, qint64 expected)
{
    QElapsedTimer clock;
    clock.start();
    if (work() != expected)
        die("the floor did not move every photo");
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        die("usage: bench_cli QUVELOCAP_PROGRAM [STUDENTS]");
    const char* program = argv[1];
    const int big = argc > 2 ? std::atoi(argv[2]) : 10'000;
    const int small = big / 10;

    const QByteArray base = basePhoto();
    std::printf("# photo: 480 x 640 camera-like JPEG, %lld bytes; units of %d and %d students\n",
                static_cast<long long>(base.size()), small, big);
    PGconn* c = connectPg();
    fill(c, base, small, big);

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/bench_cli-XXXXXX"));
    const QString home = work.filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    auto folder = [&](const char* name) { return work.filePath(QString::fromLatin1(name)); };
    auto exportArgs = [](const char* unit, const QString& dir) {
        return QStringList{"export", "--unit", QString::fromLatin1(unit), "--dir", dir};
    };
    auto importArgs = [](const char* unit, const QString& dir) {
        return QStringList{"import", "--unit", QString::fromLatin1(unit), "--dir", dir};
    };

    // The small unit: the memory the program needs for it.
    const ChildRun smallExport = runProgram(program, exportArgs("1", folder("small")), home);
    const ChildRun smallImport = runProgram(program, importArgs("1", folder("small")), home);

    // The big unit, interleaved: ours, floor, floor, ours.
    double oursExport = 0, floorExportSeconds = 0;
    long bigExportPeak = 0;
    ChildRun run = runProgram(program, exportArgs("2", folder("ours1")), home);
    oursExport += run.seconds;
    bigExportPeak = qMax(bigExportPeak, run.peakKiB);
    floorExportSeconds += timed([&] { return floorExport(c, "2", folder("floor1")); }, big);
    floorExportSeconds += timed([&] { return floorExport(c, "2", folder("floor2")); }, big);
    run = runProgram(program, exportArgs("2", folder("ours2")), home);
    oursExport += run.seconds;
    bigExportPeak = qMax(bigExportPeak, run.peakKiB);
    QDir(folder("floor2")).removeRecursively();
    QDir(folder("ours2")).removeRecursively();

    double oursImport = 0, floorImportSeconds = 0, floorSqlOnlySeconds = 0;
    long bigImportPeak = 0;
    run = runProgram(program, importArgs("2", folder("ours1")), home);
    oursImport += run.seconds;
    bigImportPeak = qMax(bigImportPeak, run.peakKiB);
    floorImportSeconds += timed([&] { return floorImport(c, "2", folder("floor1"), true); }, big);
    floorSqlOnlySeconds += timed([&] { return floorImport(c, "2", folder("floor1"), false); }, big);
    floorImportSeconds += timed([&] { return floorImport(c, "2", folder("floor1"), true); }, big);
    floorSqlOnlySeconds += timed([&] { return floorImport(c, "2", folder("floor1"), false); }, big);
    run = runProgram(program, importArgs("2", folder("ours1")), home);
    oursImport += run.seconds;
    bigImportPeak = qMax(bigImportPeak, run.peakKiB);

    const double n = 2.0 * big;
    std::printf("# export photos/s: ours %.1f, libpq floor %.1f\n", n / oursExport,
                n / floorExportSeconds);
    std::printf("# import photos/s: ours %.1f, libpq floor %.1f (checking each JPEG), %.1f "
                "(statements only)\n",
                n / oursImport, n / floorImportSeconds, n / floorSqlOnlySeconds);
    std::printf("# peak memory KiB, %d vs %d students: export %ld vs %ld, import %ld vs %ld\n",
                small, big, smallExport.peakKiB, bigExportPeak, smallImport.peakKiB, bigImportPeak);
    const double allowanceKiB = double(base.size()) / 1024.0 + 1024.0;
    std::printf("ratio cli_export %.3f\n", floorExportSeconds / oursExport);
    std::printf("ratio cli_import %.3f\n", floorImportSeconds / oursImport);
    std::printf("ratio cli_import_sql_only %.3f\n", floorSqlOnlySeconds / oursImport);
    std::printf("ratio cli_export_memory %.3f\n",
                double(bigExportPeak - smallExport.peakKiB) / allowanceKiB);
    std::printf("ratio cli_import_memory %.3f\n",
                double(bigImportPeak - smallImport.peakKiB) / allowanceKiB);
    PQfinish(c);
    return 0;
}
