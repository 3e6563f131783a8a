#include "records/DatabaseError.h"

namespace qc {

DatabaseError::DatabaseError(const QString& description, const QString& sqlState)
    : Error(description), m_sqlState(sqlState)
{}

} // namespace qc
