#include "records/DatabaseError.h"

namespace qc {

DatabaseError::DatabaseError(const QString& description, const QString& sqlState,
                             bool connectionLost)
    : Error(description), m_sqlState(sqlState), m_connectionLost(connectionLost)
{}

DatabaseError::Kind DatabaseError::kind() const noexcept
{
    if (m_connectionLost || m_sqlState.startsWith(QLatin1String("08")))
        return Kind::ConnectionLost;
    if (m_sqlState == QLatin1String("25P02"))
        return Kind::AbortedTransaction;
    if (m_sqlState.startsWith(QLatin1String("40")))
        return Kind::Transient;
    return Kind::Other;
}

DatabaseError::Kind DatabaseError::kindOf(const std::exception& error) noexcept
{
    const auto* database = dynamic_cast<const DatabaseError*>(&error);
    return database ? database->kind() : Kind::Other;
}

} // namespace qc
