#pragma once

#include <QString>

namespace qc {

// The demo's SQLite database: both tables, four units whose codes have one to four
// characters (one without a name) and a few students without photos.
class DemoDatabase
{
public:
    // <user data folder>/demo.sqlite
    static QString defaultPath();

    // Creates the database at path when it does not exist yet; an existing one (with the
    // photos stored during earlier demos) is left alone. Throws DatabaseError.
    static void ensure(const QString& path);
};

} // namespace qc
