#include "cli/Console.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace qc {

namespace {

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The terminal as it was before the prompt, put back also when ^C ends the program.
termios g_saved;
volatile sig_atomic_t g_echoOff = 0;

extern "C" void restoreAndRaise(int signal)
{
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::optional<QString> askWithoutEcho(const QString& prompt)
{
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    print(stderr, prompt);
    termios quiet;
    if (::tcgetattr(STDIN_FILENO, &g_saved) != 0)
        return std::nullopt;
    quiet = g_saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    auto oldInt = std::signal(SIGINT, restoreAndRaise);
    auto oldTerm = std::signal(SIGTERM, restoreAndRaise);
    g_echoOff = ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';)
        line.push_back(char(c));
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_echoOff = 0;
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

} // namespace

Console Console::standard()
{
    Console console;
    console.out = [](const QString& text) { print(stdout, text); };
    console.err = [](const QString& text) { print(stderr, text); };
    console.progress = ::isatty(STDERR_FILENO) != 0;
    console.askPassword = askWithoutEcho;
    if (qEnvironmentVariableIsSet("QUVELOCAP_PASSWORD"))
        console.environmentPassword = qEnvironmentVariable("QUVELOCAP_PASSWORD");
    return console;
}

} // namespace qc
