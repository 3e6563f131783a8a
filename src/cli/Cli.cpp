#include "cli/Cli.h"

#include "cli/Background.h"
#include "cli/Console.h"
#include "cli/FileNameCodec.h"
#include "cli/PhotoFolder.h"
#include "cli/Progress.h"
#include "cli/UnitRoster.h"
#include "core/Desktop.h"
#include "core/Error.h"
#include "core/SettingsStore.h"
#include "imaging/PictureDecoder.h"
#include "records/Connection.h"
#include "records/Module1.h"
#include "records/PhotoPanel.h"
#include "records/PhotoRecords.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QHash>
#include <QImageWriter>

#include <future>
#include <optional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace qc {

namespace {

const QString kNotFound = QStringLiteral("Registro não encontrado!");

// The photo control writes its JPEG files at this quality.
constexpr int kJpegQuality = 90;
// Far above any ID photo; a file beyond it is not read into memory at all.
constexpr qint64 kMaxPhotoBytes = qint64(64) * 1024 * 1024;

// Import takes these, in this order of preference when one number has several.
const QList<QByteArray> kExtensions = {".jpg", ".jpeg", ".png"};

// The station's settings, with what the command line gives for this run in front.
class RunSettings : public SettingsStore
{
public:
    explicit RunSettings(SettingsStore& stored) : m_stored(stored) {}
    void override(const QString& key, const QString& value) { m_overrides.insert(key, value); }
    QString value(const QString& key) const override
    {
        const auto it = m_overrides.constFind(key);
        return it != m_overrides.constEnd() ? *it : m_stored.value(key);
    }
    // A run never changes the stored settings.
    void setValue(const QString& key, const QString& value) override { override(key, value); }

private:
    SettingsStore& m_stored;
    QHash<QString, QString> m_overrides;
};

// No windows here: a box's text goes to the error output, the rest does nothing.
class HeadlessDesktop : public Desktop
{
public:
    explicit HeadlessDesktop(Console& console) : m_console(console) {}
    void messageBox(const QString& text, const QString&, Icon, Buttons) override
    {
        m_console.err(QStringLiteral("quvelocap: ") + text + QLatin1Char('\n'));
    }
    void setWaitCursor(bool wait) override { m_wait = wait; }
    bool waitCursor() const override { return m_wait; }
    void beep() override {}
    QString saveFileName(const QString&) override { return QString(); }
    QImage clipboardImage() const override { return QImage(); }
    void setClipboardImage(const QImage&) override {}
    void endProgram() override {}

private:
    Console& m_console;
    bool m_wait = false;
};

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

struct Options
{
    QString command, unit, dir;
    bool force = false, dryRun = false, csv = false;
};

class Run
{
public:
    Run(Console& console, const Options& options) : m_console(console), m_options(options) {}

    // A failed item: listed on its own line, the run goes on.
    void failed(const QString& item, const QString& reason)
    {
        ++m_failed;
        if (m_progress)
            m_progress->clear();
        m_console.err(item + QStringLiteral(": ") + reason + QLatin1Char('\n'));
    }

    int exitCode() const { return m_failed ? Cli::ItemsFailed : Cli::Done; }

    int exportPhotos(const UnitRoster& roster)
    {
        PhotoFolder folder(m_options.dir, true);
        qint64 written = 0, kept = 0;
        Progress progress(m_console.err, m_console.progress, roster.countWithPhoto());
        m_progress = &progress;

        // One photo's file is written (and flushed to the disk) while the next one is read
        // from the database; its outcome is taken before the next item is told, so the
        // lines come in the unit's order.
        struct Writing
        {
            QByteArray name;
            std::future<PhotoFolder::Written> outcome;
        };
        std::optional<Writing> writing;
        Background background;
        const auto finishWriting = [&] {
            if (!writing)
                return;
            Writing last = std::move(*writing);
            writing.reset();
            try {
                ++(last.outcome.get() == PhotoFolder::Written::Kept ? kept : written);
            } catch (const Error& error) {
                failed(QString::fromUtf8(last.name), error.description());
            }
            progress.step();
        };
        const auto done = [&](const QString& item, const QString& problem) {
            finishWriting();
            if (!problem.isEmpty())
                failed(item, problem);
            progress.step();
        };

        roster.forEachStudent(true, [&](const QString& matricula, bool) {
            const auto name = FileNameCodec::encode(matricula, ".jpg");
            if (!name) {
                done(QStringLiteral("matrícula ") + shown(matricula),
                     matricula.isEmpty()
                         ? QStringLiteral("matrícula vazia; a foto não foi exportada")
                         : QStringLiteral(
                               "o nome de arquivo passaria de %1 bytes; a foto não foi exportada")
                               .arg(FileNameCodec::MaxNameBytes));
                return;
            }
            if (!m_options.force && folder.exists(*name)) {
                ++kept;
                done(QString(), QString());
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
                done(QString::fromUtf8(*name), problem);
                return;
            }
            finishWriting();
            writing = Writing{*name, background.run([&folder, name = *name, photo = std::move(photo),
                                                     replace = m_options.force] {
                                  return folder.write(name, replace, photo);
                              })};
        });
        finishWriting();
        progress.clear();
        m_progress = nullptr;
        m_console.out(QStringLiteral("Unidade %1: %2 fotos exportadas, %3 arquivos já existentes "
                                     "mantidos, %4 falhas.\n")
                          .arg(m_options.unit)
                          .arg(written)
                          .arg(kept)
                          .arg(m_failed));
        return exitCode();
    }

    int importPhotos(Module1& module, const UnitRoster& roster)
    {
        PhotoFolder folder(m_options.dir, false);
        qint64 total = 0;
        folder.forEachFile([&](const QByteArray& name) { total += extensionRank(name) >= 0; });

        PhotoRecords records(module, [](const QString&) {});

        qint64 stored = 0;
        Progress progress(m_console.err, m_console.progress, total);
        m_progress = &progress;

        // One file is read and checked while the photo before it is being stored; its
        // outcome is told before the next file's, so the lines come in the folder's order.
        struct Pending
        {
            QString item, matricula;
            std::future<Prepared> photo;
        };
        std::optional<Pending> pending;
        Background background;
        const auto finishPending = [&] {
            if (!pending)
                return;
            Pending last = std::move(*pending);
            pending.reset();
            try {
                const Prepared photo = last.photo.get();
                if (!photo.refusal.isEmpty())
                    failed(last.item, photo.refusal);
                else if (store(last.item, last.matricula, photo.bytes, roster, records))
                    ++stored;
            } catch (const Error& error) {
                failed(last.item, error.description());
            }
            progress.step();
        };

        folder.forEachFile([&](const QByteArray& name) {
            const int rank = extensionRank(name);
            if (rank < 0)
                return;
            const QString item = QString::fromUtf8(name);
            QString refusal;
            const auto matricula = admit(folder, name, rank, refusal);
            std::future<Prepared> photo;
            if (matricula)
                photo = background.run([&folder, name] { return prepare(folder, name); });
            finishPending();
            if (matricula) {
                pending = Pending{item, *matricula, std::move(photo)};
            } else {
                failed(item, refusal);
                progress.step();
            }
        });
        finishPending();
        progress.clear();
        m_progress = nullptr;
        m_console.out(QStringLiteral("Unidade %1: %2 fotos %3, %4 falhas, de %5 arquivos%6.\n")
                          .arg(m_options.unit)
                          .arg(stored)
                          .arg(m_options.dryRun ? QStringLiteral("seriam importadas")
                                                : QStringLiteral("importadas"))
                          .arg(m_failed)
                          .arg(total)
                          .arg(m_options.dryRun ? QStringLiteral(" (--dry-run: nada foi gravado)")
                                                : QString()));
        return exitCode();
    }

    int report(const UnitRoster& roster)
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

private:
    // What a file of the folder is to become in the database: the bytes to store, or why
    // it is not a photo.
    struct Prepared
    {
        QByteArray bytes;
        QString refusal;
    };

    // The enrolment number a file's name stands for, unless the name is not one or a file
    // of a preferred extension stands for the same number (refusal says so).
    std::optional<QString> admit(const PhotoFolder& folder, const QByteArray& name, int rank,
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
    static Prepared prepare(const PhotoFolder& folder, const QByteArray& name)
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
    bool store(const QString& item, const QString& matricula, const QByteArray& bytes,
               const UnitRoster& roster, PhotoRecords& records)
    {
        if (m_options.dryRun) {
            if (roster.hasStudent(matricula))
                return true;
            failed(item, notFound(matricula));
            return false;
        }
        try {
            if (records.storePhoto(m_options.unit, matricula, bytes) ==
                PhotoRecords::Outcome::Done)
                return true;
            failed(item, notFound(matricula));
        } catch (const Error& error) {
            failed(item, QStringLiteral("Erro: ") + error.description());
        }
        return false;
    }

    QString notFound(const QString& matricula) const
    {
        return QStringLiteral("%1 nenhum aluno da unidade %2 tem a matrícula %3")
            .arg(kNotFound, m_options.unit, shown(matricula));
    }

    Console& m_console;
    const Options& m_options;
    Progress* m_progress = nullptr;
    qint64 m_failed = 0;
};

// A run moves thousands of photos through buffers of the same few sizes (the driver's and
// ours). glibc gives the top of the heap back to the system after each one and faults it in
// again for the next; kept, it is simply reused (the peak stays what one photo needs).
void keepPhotoBuffers()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
}

int usage(Console& console, const QString& problem)
{
    console.err(QStringLiteral("quvelocap: ") + problem +
                QStringLiteral("\nUse \"quvelocap --help\" para ver os comandos e as opções.\n"));
    return Cli::UsageOrConnection;
}

} // namespace

bool Cli::isCommand(const QString& argument)
{
    return argument == QLatin1String("export") || argument == QLatin1String("import") ||
           argument == QLatin1String("report");
}

QString Cli::helpText()
{
    return QStringLiteral(
        "Comandos sem janela (não precisam de tela):\n"
        "  quvelocap export --unit CODIGO --dir PASTA [--force]\n"
        "  quvelocap import --unit CODIGO --dir PASTA [--dry-run]\n"
        "  quvelocap report --unit CODIGO [--csv]\n"
        "\n"
        "Trabalham na conexão das configurações da estação (as que a janela de configuração\n"
        "grava), com o mesmo código da janela de captura.\n"
        "\n"
        "  export   Grava PASTA/<matricula>.jpg para cada aluno da unidade que tem foto,\n"
        "           com os bytes exatamente como estão no banco. Um arquivo que já existe é\n"
        "           mantido, a menos que --force seja dado. Cada arquivo é gravado à parte,\n"
        "           conferido (todos os bytes, gravados no disco, o tamanho) e só então\n"
        "           recebe o seu nome: nunca fica um arquivo pela metade. PASTA é criada se\n"
        "           não existir (um nível).\n"
        "  import   Grava cada PASTA/<matricula>.jpg (também .jpeg e .png) na linha do\n"
        "           aluno da unidade, como \"Salvar Foto\": cada foto inteira ou nada; se a\n"
        "           gravação falha, o aluno fica com a foto que tinha. Um JPEG é gravado com\n"
        "           os seus próprios bytes; PNG (e BMP ou GIF com esses nomes) é decodificado\n"
        "           e gravado como JPEG. Um nome sem aluno, um arquivo que não é foto ou uma\n"
        "           gravação recusada é listado com o motivo, e o resto continua. Arquivos\n"
        "           ocultos (nome começado por \".\") e de outras extensões são ignorados.\n"
        "           Se uma matrícula tem mais de um arquivo, vale .jpg, depois .jpeg, depois\n"
        "           .png; os outros são listados como falha.\n"
        "  report   As matrículas da unidade sem foto e as contagens de alunos com e sem\n"
        "           foto.\n"
        "\n"
        "Opções:\n"
        "  --unit CODIGO      o código da unidade (codigounidade), inteiro, como está no banco\n"
        "  --dir PASTA        a pasta das fotos (export, import)\n"
        "  --force            export: substitui os arquivos que já existem\n"
        "  --dry-run          import: lê e confere tudo e diz o que faria, sem gravar nada\n"
        "  --csv              report: só a tabela CSV (cabeçalho \"matricula\", uma linha por\n"
        "                     aluno sem foto) na saída; as contagens vão para a saída de erros\n"
        "  --server SERVIDOR  --database BANCO  --user USUARIO\n"
        "                     substituem as configurações gravadas só nesta execução\n"
        "  -h, --help         este texto\n"
        "\n"
        "Senha: a da variável QUVELOCAP_PASSWORD quando ela existe; senão a gravada nas\n"
        "configurações (se --user não troca o usuário); senão, num terminal, ela é pedida\n"
        "sem eco. Nunca na linha de comando.\n"
        "\n"
        "Nomes de arquivo: a matrícula é um dado, não um caminho. O nome do arquivo são os\n"
        "bytes UTF-8 da matrícula, com estes escritos como %XX (hexadecimal maiúsculo):\n"
        "  % / \\ : * ? \" < > |, os caracteres de controle (0x00-0x1F, 0x7F), um \".\" ou um\n"
        "  espaço no início ou no fim, e a primeira letra dos nomes que o Windows reserva\n"
        "  (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9).\n"
        "Assim \"../../x\" vira \"%2E.%2F..%2Fx.jpg\" e \"a/b\" vira \"a%2Fb.jpg\", sempre dentro\n"
        "de PASTA. O import faz o caminho inverso (aceita também hexadecimal minúsculo).\n"
        "Uma matrícula vazia, ou cujo nome passaria de 255 bytes, não é exportada (é\n"
        "listada). Em sistemas de arquivos que não distinguem maiúsculas, \"A1\" e \"a1\"\n"
        "disputam o mesmo arquivo: o segundo fica como já existente.\n"
        "\n"
        "Saída: num terminal, uma linha de progresso na saída de erros (feitas/total, fotos\n"
        "por segundo, tempo restante); não numa pipe ou arquivo. Cada falha é uma linha\n"
        "\"ITEM: motivo\" na saída de erros; no fim, um resumo na saída.\n"
        "Código de saída: 0 tudo feito; 1 algum item falhou (listados); 2 erro de uso, de\n"
        "pasta ou de conexão (também uma unidade que não está em bas_unidades).\n");
}

int Cli::run(const QStringList& arguments, SettingsStore& stored, Console& console)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption unit(QStringLiteral("unit"), QString(), QStringLiteral("CODIGO"));
    const QCommandLineOption dir(QStringLiteral("dir"), QString(), QStringLiteral("PASTA"));
    const QCommandLineOption force(QStringLiteral("force"), QString());
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QString());
    const QCommandLineOption csv(QStringLiteral("csv"), QString());
    const QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("S"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("B"));
    const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("U"));
    parser.addOptions({help, unit, dir, force, dryRun, csv, server, database, user});
    parser.addPositionalArgument(QStringLiteral("command"), QString());

    for (const QString& argument : arguments.mid(1)) {
        const QString option = argument.section(QLatin1Char('='), 0, 0);
        if (option == QLatin1String("--password") || option == QLatin1String("--pw") ||
            option == QLatin1String("-p"))
            return usage(console, QStringLiteral("a senha nunca é dada na linha de comando (ela "
                                                 "ficaria visível a outros usuários); use "
                                                 "QUVELOCAP_PASSWORD ou responda à pergunta."));
    }
    if (!parser.parse(arguments))
        return usage(console, parser.errorText());
    if (parser.isSet(help)) {
        console.out(helpText());
        return Done;
    }
    Options options;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || !isCommand(positional.first()))
        return usage(console, QStringLiteral("dê um comando: export, import ou report."));
    options.command = positional.first();
    options.unit = parser.value(unit);
    options.dir = parser.value(dir);
    options.force = parser.isSet(force);
    options.dryRun = parser.isSet(dryRun);
    options.csv = parser.isSet(csv);
    const bool isExport = options.command == QLatin1String("export");
    const bool isImport = options.command == QLatin1String("import");
    if (options.unit.isEmpty())
        return usage(console, QStringLiteral("falta --unit CODIGO."));
    if ((isExport || isImport) && options.dir.isEmpty())
        return usage(console, QStringLiteral("falta --dir PASTA."));
    if (!isExport && !isImport && parser.isSet(dir))
        return usage(console, QStringLiteral("--dir é só de export e import."));
    if (options.force && !isExport)
        return usage(console, QStringLiteral("--force é só de export."));
    if (options.dryRun && !isImport)
        return usage(console, QStringLiteral("--dry-run é só de import."));
    if (options.csv && options.command != QLatin1String("report"))
        return usage(console, QStringLiteral("--csv é só de report."));

    RunSettings settings(stored);
    if (parser.isSet(server))
        settings.override(QStringLiteral("srv"), parser.value(server));
    if (parser.isSet(database))
        settings.override(QStringLiteral("db"), parser.value(database));
    const QString storedUser = stored.value(QStringLiteral("us"));
    const bool otherUser = parser.isSet(user) && parser.value(user) != storedUser;
    if (parser.isSet(user))
        settings.override(QStringLiteral("us"), parser.value(user));
    const QString srv = settings.value(QStringLiteral("srv"));
    if (srv.isEmpty())
        return usage(console, QStringLiteral("nenhum servidor configurado: configure a estação ou "
                                             "dê --server."));
    // The stored password belongs to the stored user; a SQLite file needs none.
    if (console.environmentPassword) {
        settings.override(QStringLiteral("pw"), *console.environmentPassword);
    } else if (otherUser || stored.value(QStringLiteral("pw")).isEmpty()) {
        std::optional<QString> answer;
        if (!srv.startsWith(QLatin1String("sqlite:")) && console.askPassword)
            answer = console.askPassword(
                QStringLiteral("Senha de %1: ").arg(settings.value(QStringLiteral("us"))));
        settings.override(QStringLiteral("pw"), answer.value_or(QString()));
    }

    keepPhotoBuffers();
    HeadlessDesktop desktop(console);
    Module1 module(desktop, settings);
    if (!module.AbrirConexao())
        return UsageOrConnection; // the desktop has told why
    UnitRoster roster(module, options.unit);
    Run run(console, options);
    try {
        if (!roster.unitExists())
            return usage(
                console,
                QStringLiteral("a unidade \"%1\" não está em bas_unidades.").arg(options.unit));
        if (isExport)
            return run.exportPhotos(roster);
        if (isImport)
            return run.importPhotos(module, roster);
        return run.report(roster);
    } catch (const Error& error) {
        // What stops the whole run: the folder, the connection, a statement of the walk.
        console.err((console.progress ? QStringLiteral("\r\x1b[K") : QString()) +
                    QStringLiteral("quvelocap: ") + error.description() + QLatin1Char('\n'));
        return UsageOrConnection;
    }
}

} // namespace qc
