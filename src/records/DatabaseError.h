#pragma once

#include "core/Error.h"

#include <QString>

namespace qc {

// Every failure of the data-access layer. description() is the driver's own text (the
// operator reads it after "Erro: "); sqlState() is the five-character ODBC state when the
// driver gave one, else empty (SQLite gives none).
class DatabaseError : public Error
{
public:
    explicit DatabaseError(const QString& description, const QString& sqlState = QString(),
                           bool connectionLost = false);

    const QString& sqlState() const noexcept { return m_sqlState; }
    // The connection this failure came from is gone (the server went away, or it was
    // never open): nothing more can be done on it, a new one must be opened.
    bool connectionLost() const noexcept { return m_connectionLost; }

    // What can be done about a failure, read from its state and never from its text (a
    // server answers in its own language).
    enum class Kind
    {
        Other,
        AbortedTransaction, // 25P02: the transaction failed before; nothing runs until it ends
        Transient,          // class 40: a serialization failure or deadlock chose this statement
        ConnectionLost,     // class 08, or the driver found the connection dead
    };
    Kind kind() const noexcept;
    // The kind of any failure: an Error that is no DatabaseError is Other.
    static Kind kindOf(const std::exception& error) noexcept;

private:
    QString m_sqlState;
    bool m_connectionLost = false;
};

} // namespace qc
