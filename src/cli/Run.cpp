#include "cli/Run.h"

#include "cli/Background.h"
#include "cli/Cli.h"
#include "cli/Console.h"
#include "cli/FileNameCodec.h"
#include "cli/PhotoFolder.h"
#include "cli/Progress.h"
#include "cli/UnitRoster.h"
#include "core/Error.h"
#include "imaging/PictureDecoder.h"
#include "records/PhotoRecords.h"

#include <QBuffer>
#include <QImageWriter>

#include <future>
#include <utility>

namespace qc {

namespace {

const QString kNotFound = QStringLiteral("Registro não encontrado!");

// The photo control writes its JPEG files at this quality.
constexpr int kJpegQuality = 90;
// Far above any ID photo; a file beyond it is not read into memory at all.
constexpr qint64 kMaxPhotoBytes = qint64(64) * 1024 * 1024;

// Import takes these, in this order of preference when one number has several.
const QList<QByteArray> kExtensions = {".jpg", ".jpeg", ".png"};

// An enrolment number as a reader can see it: control characters written out.
QString shown(const QString& matricula)
{
    QString text = QStringLiteral("\"");
    for (const QChar c : matricula) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text + QLatin1Char('"');
}

QString csvField(const QString& value)
{
    if (!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('"')) &&
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

int extensionRank(const QByteArray& name)
{
    if (name.startsWith('.'))
        return -1; // hidden, and the export's own files being written
    const QByteArray lower = name.toLower();
    for (int i = 0; i < kExtensions.size(); ++i)
        if (lower.endsWith(kExtensions.at(i)) && lower.size() > kExtensions.at(i).size())
            return i;
    return -1;
}

QByteArray jpegOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(image))
        throw Error(QStringLiteral("Não foi possível gravar a foto como JPEG: %1")
                        .arg(writer.errorString()));
    return bytes;
}

} // namespace

// One photo's file is written (and flushed to the disk) while the next one is read from
// the database; its outcome is taken before the next item is told, so the lines come in
// the unit's order.
class Run::WriteBehind
{
public:
    WriteBehind(Run& run, PhotoFolder& folder, Progress& progress)
        : m_run(run), m_folder(folder), m_progress(progress)
    {}

    void write(const QByteArray& name, QByteArray photo, bool replace)
    {
        finish();
        m_writing = Writing{
            name, m_background.run([folder = &m_folder, name, photo = std::move(photo), replace] {
                return folder->write(name, replace, photo);
            })};
    }
    // An item done without a write, told after the one before it.
    void skip(const QString& item, const QString& problem)
    {
        finish();
        if (!problem.isEmpty())
            m_run.failed(item, problem);
        m_progress.step();
    }
    void keepExisting()
    {
        ++kept;
        skip(QString(), QString());
    }
    void finish()
    {
        if (!m_writing)
            return;
        Writing last = std::move(*m_writing);
        m_writing.reset();
        try {
            ++(last.outcome.get() == PhotoFolder::Written::Kept ? kept : written);
        } catch (const Error& error) {
            m_run.failed(QString::fromUtf8(last.name), error.description());
        }
        m_progress.step();
    }

    qint64 written = 0;
    qint64 kept = 0;

private:
    struct Writing
    {
        QByteArray name;
        std::future<PhotoFolder::Written> outcome;
    };

    Run& m_run;
    PhotoFolder& m_folder;
    Progress& m_progress;
    std::optional<Writing> m_writing;
    Background m_background; // last: waits for the write before the rest goes
};

// One file is read and checked while the photo before it is being stored; its outcome
// is told before the next file's, so the lines come in the folder's order.
class Run::StoreBehind
{
public:
    StoreBehind(Run& run, const UnitRoster& roster, PhotoRecords& records, Progress& progress)
        : m_run(run), m_roster(roster), m_records(records), m_progress(progress)
    {}

    // Starts reading and checking a file beside the database work.
    std::future<Prepared> prepare(const PhotoFolder& folder, const QByteArray& name)
    {
        return m_background.run([&folder, name] { return Run::prepare(folder, name); });
    }
    void store(const QString& item, const QString& matricula, std::future<Prepared> photo)
    {
        finish();
        m_pending = Pending{item, matricula, std::move(photo)};
    }
    void refuse(const QString& item, const QString& refusal)
    {
        finish();
        m_run.failed(item, refusal);
        m_progress.step();
    }
    void finish()
    {
        if (!m_pending)
            return;
        Pending last = std::move(*m_pending);
        m_pending.reset();
        try {
            const Prepared photo = last.photo.get();
            if (!photo.refusal.isEmpty())
                m_run.failed(last.item, photo.refusal);
            else if (m_run.store(last.item, last.matricula, photo.bytes, m_roster, m_records))
                ++stored;
        } catch (const Error& error) {
            m_run.failed(last.item, error.description());
        }
        m_progress.step();
    }

    qint64 stored = 0;

private:
    struct Pending
    {
        QString item, matricula;
        std::future<Prepared> photo;
    };

    Run& m_run;
    const UnitRoster& m_roster;
    PhotoRecords& m_records;
    Progress& m_progress;
    std::optional<Pending> m_pending;
    Background m_background; // last: waits for the reading before the rest goes
};

void Run::failed(const QString& item, const QString& reason)
{
    ++m_failed;
    if (m_progress)
        m_progress->clear();
    m_console.err(item + QStringLiteral(": ") + reason + QLatin1Char('\n'));
}

int Run::exitCode() const
{
    return m_failed ? Cli::ItemsFailed : Cli::Done;
}

int Run::exportPhotos(const UnitRoster& roster)
{
    PhotoFolder folder(m_options.dir, true);
    Progress progress(m_console.err, m_console.progress, roster.countWithPhoto());
    m_progress = &progress;
    WriteBehind writes(*this, folder, progress);
    roster.forEachStudent(true, [&](const QString& matricula, bool) {
        exportOne(roster, folder, writes, matricula);
    });
    writes.finish();
    progress.clear();
    m_progress = nullptr;
    m_console.out(QStringLiteral("Unidade %1: %2 fotos exportadas, %3 arquivos já existentes "
                                 "mantidos, %4 falhas.\n")
                      .arg(m_options.unit)
                      .arg(writes.written)
                      .arg(writes.kept)
                      .arg(m_failed));
    return exitCode();
}

void Run::exportOne(const UnitRoster& roster, PhotoFolder& folder, WriteBehind& writes,
                    const QString& matricula)
{
    const auto name = FileNameCodec::encode(matricula, ".jpg");
    if (!name) {
        writes.skip(
            QStringLiteral("matrícula ") + shown(matricula),
            matricula.isEmpty()
                ? QStringLiteral("matrícula vazia; a foto não foi exportada")
                : QStringLiteral("o nome de arquivo passaria de %1 bytes; a foto não foi exportada")
                      .arg(FileNameCodec::MaxNameBytes));
        return;
    }
    if (!m_options.force && folder.exists(*name)) {
        writes.keepExisting();
        return;
    }
    QByteArray photo;
    QString problem;
    try {
        photo = roster.readPhoto(matricula);
        if (photo.isEmpty())
            problem = QStringLiteral("a foto foi apagada do banco durante a exportação");
    } catch (const Error& error) {
        problem = error.description();
    }
    if (!problem.isEmpty()) {
        writes.skip(QString::fromUtf8(*name), problem);
        return;
    }
    writes.write(*name, std::move(photo), m_options.force);
}

int Run::importPhotos(Module1& module, const UnitRoster& roster)
{
    PhotoFolder folder(m_options.dir, false);
    qint64 total = 0;
    folder.forEachFile([&](const QByteArray& name) { total += extensionRank(name) >= 0; });

    PhotoRecords records(module, [](const QString&) {});
    Progress progress(m_console.err, m_console.progress, total);
    m_progress = &progress;
    StoreBehind stores(*this, roster, records, progress);
    folder.forEachFile([&](const QByteArray& name) { importOne(folder, name, stores); });
    stores.finish();
    progress.clear();
    m_progress = nullptr;
    m_console.out(
        QStringLiteral("Unidade %1: %2 fotos %3, %4 falhas, de %5 arquivos%6.\n")
            .arg(m_options.unit)
            .arg(stores.stored)
            .arg(m_options.dryRun ? QStringLiteral("seriam importadas")
                                  : QStringLiteral("importadas"))
            .arg(m_failed)
            .arg(total)
            .arg(m_options.dryRun ? QStringLiteral(" (--dry-run: nada foi gravado)") : QString()));
    return exitCode();
}

void Run::importOne(PhotoFolder& folder, const QByteArray& name, StoreBehind& stores)
{
    const int rank = extensionRank(name);
    if (rank < 0)
        return;
    const QString item = QString::fromUtf8(name);
    QString refusal;
    const auto matricula = admit(folder, name, rank, refusal);
    if (matricula)
        stores.store(item, *matricula, stores.prepare(folder, name));
    else
        stores.refuse(item, refusal);
}

int Run::report(const UnitRoster& roster)
{
    qint64 with = 0, without = 0;
    if (m_options.csv)
        m_console.out(QStringLiteral("matricula\n"));
    else
        m_console.out(QStringLiteral("Alunos sem foto na unidade %1:\n").arg(m_options.unit));
    roster.forEachStudent(false, [&](const QString& matricula, bool hasPhoto) {
        if (hasPhoto) {
            ++with;
            return;
        }
        ++without;
        m_console.out((m_options.csv ? csvField(matricula) : QStringLiteral("  ") + matricula) +
                      QLatin1Char('\n'));
    });
    // In CSV the output is the table alone; the counts go beside it.
    const QString counts = QStringLiteral("Com foto: %1\nSem foto: %2\nTotal: %3\n")
                               .arg(with)
                               .arg(without)
                               .arg(with + without);
    (m_options.csv ? m_console.err : m_console.out)(counts);
    return Cli::Done;
}

// The enrolment number a file's name stands for, unless the name is not one or a file
// of a preferred extension stands for the same number (refusal says so).
std::optional<QString> Run::admit(const PhotoFolder& folder, const QByteArray& name, int rank,
                                  QString& refusal) const
{
    const QByteArray base = name.left(name.size() - kExtensions.at(rank).size());
    const auto matricula = FileNameCodec::decode(base);
    if (!matricula) {
        refusal = QStringLiteral("o nome não é o de uma matrícula (um '%' sem dois "
                                 "dígitos hexadecimais, ou não é UTF-8)");
        return std::nullopt;
    }
    for (int better = 0; better < rank; ++better) {
        for (const QByteArray& extension :
             {kExtensions.at(better), kExtensions.at(better).toUpper()}) {
            if (folder.exists(base + extension)) {
                refusal = QStringLiteral("a matrícula %1 já tem o arquivo %2; este foi "
                                         "deixado de lado")
                              .arg(shown(*matricula), QString::fromUtf8(base + extension));
                return std::nullopt;
            }
        }
    }
    return matricula;
}

// Reads a file and makes sure it is a whole picture; runs beside the database work, so
// it touches nothing of the run. Throws Error when the file cannot be read.
Run::Prepared Run::prepare(const PhotoFolder& folder, const QByteArray& name)
{
    Prepared photo{folder.read(name, kMaxPhotoBytes), QString()};
    // The field holds JPEG files: a JPEG goes in with its own bytes, once it is known
    // to be a whole picture; anything else is decoded and written as JPEG.
    PictureDecoder decoder;
    const bool jpeg = photo.bytes.startsWith(QByteArrayView("\xFF\xD8\xFF", 3));
    const QImage picture = jpeg ? QImage() : decoder.decode(photo.bytes);
    if (jpeg ? !decoder.check(photo.bytes) : picture.isNull())
        photo.refusal = QStringLiteral("não é uma foto: ") + decoder.error();
    else if (!jpeg)
        photo.bytes = jpegOf(picture);
    return photo;
}

// The window's store: one statement, the old photo kept on any failure.
bool Run::store(const QString& item, const QString& matricula, const QByteArray& bytes,
                const UnitRoster& roster, PhotoRecords& records)
{
    if (m_options.dryRun) {
        if (roster.hasStudent(matricula))
            return true;
        failed(item, notFound(matricula));
        return false;
    }
    try {
        if (records.storePhoto(m_options.unit, matricula, bytes) == PhotoRecords::Outcome::Done)
            return true;
        failed(item, notFound(matricula));
    } catch (const Error& error) {
        failed(item, QStringLiteral("Erro: ") + error.description());
    }
    return false;
}

QString Run::notFound(const QString& matricula) const
{
    return QStringLiteral("%1 nenhum aluno da unidade %2 tem a matrícula %3")
        .arg(kNotFound, m_options.unit, shown(matricula));
}

} // namespace qc
