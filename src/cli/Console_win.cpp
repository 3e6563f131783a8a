#include "cli/Console.h"

#include <cstdio>
#include <string>

#include <io.h>
#include <windows.h>

namespace qc {

namespace {

// On a real console, WriteConsoleW prints accents whatever the console's code page is
// (cmd.exe and PowerShell start in the OEM one); redirected output gets UTF-8.
void print(DWORD which, std::FILE* stream, const QString& text)
{
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool isConsole(DWORD which)
{
    DWORD mode = 0;
    const HANDLE handle = GetStdHandle(which);
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

std::optional<QString> askWithoutEcho(const QString& prompt)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &saved))
        return std::nullopt;
    print(STD_ERROR_HANDLE, stderr, prompt);
    // The console puts the mode back itself when the program ends on ^C.
    SetConsoleMode(input, (saved & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    std::wstring line;
    wchar_t buffer[256];
    for (DWORD read = 0; ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0;) {
        line.append(buffer, read);
        if (line.find(L'\n') != std::wstring::npos)
            break;
    }
    SetConsoleMode(input, saved);
    print(STD_ERROR_HANDLE, stderr, QStringLiteral("\n"));
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    return QString::fromStdWString(line);
}

} // namespace

Console Console::standard()
{
    Console console;
    console.out = [](const QString& text) { print(STD_OUTPUT_HANDLE, stdout, text); };
    console.err = [](const QString& text) { print(STD_ERROR_HANDLE, stderr, text); };
    console.progress = isConsole(STD_ERROR_HANDLE);
    console.askPassword = askWithoutEcho;
    if (qEnvironmentVariableIsSet("QUVELOCAP_PASSWORD"))
        console.environmentPassword = qEnvironmentVariable("QUVELOCAP_PASSWORD");
    return console;
}

} // namespace qc
