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
    explicit DatabaseError(const QString& description, const QString& sqlState = QString());

    const QString& sqlState() const noexcept { return m_sqlState; }

private:
    QString m_sqlState;
};

} // namespace qc
