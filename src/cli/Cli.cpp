#include "cli/Cli.h"

#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/Run.h"
#include "cli/RunSettings.h"
#include "cli/UnitRoster.h"
#include "core/Desktop.h"
#include "core/Error.h"
#include "records/Connection.h"
#include "records/Module1.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace qc {

namespace {

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
    void endProgram() override {}

private:
    Console& m_console;
    bool m_wait = false;
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

// The commands and what each one does.
QString commandsHelp()
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
        "\n");
}

// The options, and which command takes each.
QString optionsHelp()
{
    return QStringLiteral(
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
        "\n");
}

// Where the password comes from, and how an enrolment number becomes a file name.
QString namesHelp()
{
    return QStringLiteral(
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
        "\n");
}

// What a run prints and the exit codes.
QString outputHelp()
{
    return QStringLiteral(
        "Saída: num terminal, uma linha de progresso na saída de erros (feitas/total, fotos\n"
        "por segundo, tempo restante); não numa pipe ou arquivo. Cada falha é uma linha\n"
        "\"ITEM: motivo\" na saída de erros; no fim, um resumo na saída.\n"
        "Código de saída: 0 tudo feito; 1 algum item falhou (listados); 2 erro de uso, de\n"
        "pasta ou de conexão (também uma unidade que não está em bas_unidades).\n");
}

} // namespace

bool Cli::isCommand(const QString& argument)
{
    return argument == QLatin1String("export") || argument == QLatin1String("import") ||
           argument == QLatin1String("report");
}

QString Cli::helpText()
{
    return commandsHelp() + optionsHelp() + namesHelp() + outputHelp();
}

int Cli::run(const QStringList& arguments, SettingsStore& stored, Console& console)
{
    const CommandLine line = CommandLine::parse(arguments);
    if (line.ask == CommandLine::Ask::Wrong)
        return usage(console, line.problem);
    if (line.ask == CommandLine::Ask::Help) {
        console.out(helpText());
        return Done;
    }
    const CliOptions& options = line.options;
    RunSettings settings(stored);
    if (const QString problem = settings.takeFrom(options, console); !problem.isEmpty())
        return usage(console, problem);

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
        if (options.isExport())
            return run.exportPhotos(roster);
        if (options.isImport())
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
