#include "records/DemoDatabase.h"

#include "core/AppInfo.h"
#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/Transaction.h"

#include <QDir>
#include <QFileInfo>

namespace qc {

QString DemoDatabase::defaultPath()
{
    return ownDataFolder() + QStringLiteral("/demo.sqlite");
}

void DemoDatabase::ensure(const QString& path)
{
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Built under a temporary name and renamed, so that an interrupted first start
    // never leaves a half-made database that later starts would take as finished.
    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    {
        Connection cn;
        cn.openSqlite(building, true);
        Transaction work(cn);
        cn.execute(QStringLiteral("CREATE TABLE bas_unidades (codigounidade TEXT PRIMARY KEY, "
                                  "RazaoSocial TEXT)"));
        cn.execute(QStringLiteral("CREATE TABLE Aca_FichaCadastralAluno (codigounidade TEXT NOT "
                                  "NULL, matricula TEXT NOT NULL, foto BLOB, PRIMARY KEY "
                                  "(codigounidade, matricula))"));
        const QVariantList units[] = {
            {QStringLiteral("1"), QStringLiteral("Escola Municipal Centro")},
            {QStringLiteral("22"), QStringLiteral("Escola Estadual Vila Nova")},
            {QStringLiteral("333"), QVariant()},
            {QStringLiteral("4444"), QStringLiteral("Colégio Jardim das Flores")},
        };
        for (const QVariantList& unit : units)
            cn.execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"), unit);
        const QVariantList students[] = {
            {QStringLiteral("1"), QStringLiteral("1001")},
            {QStringLiteral("1"), QStringLiteral("1002")},
            {QStringLiteral("22"), QStringLiteral("2201")},
            {QStringLiteral("333"), QStringLiteral("3301")},
            {QStringLiteral("4444"), QStringLiteral("4401")},
            {QStringLiteral("4444"), QStringLiteral("4402")},
        };
        for (const QVariantList& student : students)
            cn.execute(QStringLiteral("INSERT INTO Aca_FichaCadastralAluno (codigounidade, "
                                      "matricula) VALUES (?, ?)"),
                       student);
        work.commit();
    }
    if (!QFile::rename(building, path))
        throw DatabaseError(
            QStringLiteral("Não foi possível criar o banco de demonstração em %1").arg(path));
}

} // namespace qc
