#include "records/DatabaseError.h"

namespace qc {

DatabaseError::DatabaseError(const QString& description, const QString& sqlState,
                             bool connectionLost)
    : Error(description), m_sqlState(sqlState), m_connectionLost(connectionLost)
{}

} // namespace qc
