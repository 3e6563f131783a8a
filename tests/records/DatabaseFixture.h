#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace qc {
class Connection;
}

// The database a test body runs against, chosen by the global data row ("engine"):
// a SQLite file in a temporary folder, or the PostgreSQL test server whose address the
// test command passes in QC_PG_* variables. Both get the station's two tables, empty.
class DatabaseFixture
{
public:
    // The engines available to this run: "sqlite" always, "postgresql" when configured.
    static QStringList engines();
    // For a suite's initTestCase_data(): the global column "engine", one row per engine,
    // so that every test body runs on each of them.
    static void addEngineRows();

    explicit DatabaseFixture(const QString& engine);

    QString engine() const { return m_engine; }
    // The four settings that reach this database.
    QString server() const { return m_server; }
    QString database() const { return m_database; }
    QString user() const { return m_user; }
    QString password() const { return m_password; }

    // A new open connection (through the classic connection string).
    std::shared_ptr<qc::Connection> connect() const;
    // Drops and creates the tables.
    void createTables(qc::Connection& cn) const;
    QString binaryType() const;

    static QString oddUser();
    static QString oddPassword();

private:
    QString m_engine;
    QTemporaryDir m_dir;
    QString m_server, m_database, m_user, m_password;
};
