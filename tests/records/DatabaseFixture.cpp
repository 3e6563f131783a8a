#include "DatabaseFixture.h"

#include "records/Connection.h"
#include "records/ConnectionString.h"

#include <QTest>
#include <QUrl>

namespace {

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

} // namespace

QStringList DatabaseFixture::engines()
{
    QStringList list{QStringLiteral("sqlite")};
    if (!env("QC_PG_SERVER").isEmpty())
        list.append(QStringLiteral("postgresql"));
    return list;
}

void DatabaseFixture::addEngineRows()
{
    QTest::addColumn<QString>("engine");
    for (const QString& engine : engines())
        QTest::newRow(qPrintable(engine)) << engine;
}

DatabaseFixture::DatabaseFixture(const QString& engine) : m_engine(engine)
{
    if (engine == QLatin1String("sqlite")) {
        const QString path = m_dir.filePath(QStringLiteral("school.sqlite"));
        qc::Connection creator;
        creator.openSqlite(path, true);
        m_server = QStringLiteral("sqlite:") + path;
    } else {
        m_server = env("QC_PG_SERVER");
        m_database = env("QC_PG_DATABASE");
        m_user = env("QC_PG_USER");
        m_password = env("QC_PG_PASSWORD");
    }
}

std::shared_ptr<qc::Connection> DatabaseFixture::connect() const
{
    auto cn = std::make_shared<qc::Connection>();
    cn->open(qc::ConnectionString::build(m_user, m_password, m_database, m_server), m_user,
             m_password);
    return cn;
}

QString DatabaseFixture::binaryType() const
{
    return m_engine == QLatin1String("sqlite") ? QStringLiteral("BLOB") : QStringLiteral("bytea");
}

void DatabaseFixture::createTables(qc::Connection& cn) const
{
    cn.execute(QStringLiteral("DROP TABLE IF EXISTS bas_unidades"));
    cn.execute(QStringLiteral("DROP TABLE IF EXISTS Aca_FichaCadastralAluno"));
    cn.execute(QStringLiteral("CREATE TABLE bas_unidades (codigounidade varchar(10), "
                              "RazaoSocial varchar(100))"));
    cn.execute(QStringLiteral("CREATE TABLE Aca_FichaCadastralAluno (codigounidade varchar(10), "
                              "matricula varchar(20), foto ") +
               binaryType() + QLatin1Char(')'));
}

QString DatabaseFixture::oddUser()
{
    return env("QC_PG_ODD_USER");
}

QString DatabaseFixture::oddPassword()
{
    return QUrl::fromPercentEncoding(env("QC_PG_ODD_PASSWORD").toUtf8());
}
