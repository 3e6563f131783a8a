#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace qc {

// What a command-line run talks to. The program's own is the process's terminal and
// environment; a test hands in one that keeps the output.
struct Console
{
    std::function<void(const QString&)> out; // results: the report, the summary
    std::function<void(const QString&)> err; // failures, errors, the progress line
    bool progress = false;                   // err is a terminal
    // Asks for the password without echo; absent where no one can answer (no terminal).
    std::function<std::optional<QString>(const QString& prompt)> askPassword;
    std::optional<QString> environmentPassword; // QUVELOCAP_PASSWORD

    // stdout, stderr, the terminal on stdin and the process's environment.
    static Console standard();
};

} // namespace qc
