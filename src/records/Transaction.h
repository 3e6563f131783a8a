#pragma once

#include "records/Connection.h"

namespace qc {

// One unit of work on a connection: begun on construction, rolled back on destruction
// unless committed, so that an exception on the way leaves the rows as they were.
class Transaction
{
public:
    explicit Transaction(Connection& connection) : m_connection(connection)
    {
        m_connection.beginTransaction();
    }
    ~Transaction()
    {
        if (m_open) {
            try {
                m_connection.rollbackTransaction();
            } catch (...) {
                // Already failing; the connection reports its own state next time.
            }
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit()
    {
        m_connection.commitTransaction();
        m_open = false;
    }

private:
    Connection& m_connection;
    bool m_open = true;
};

} // namespace qc
