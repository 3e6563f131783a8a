#include "records/PhotoRecords.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "core/Logging.h"
#include "imaging/PictureDecoder.h"
#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/Field.h"
#include "records/Module1.h"
#include "records/ProviderConnection.h"
#include "records/Recordset.h"
#include "records/Transaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace qc {

const QString PhotoRecords::RestartText = QStringLiteral(
    "ERROR:  current transaction is aborted, commands ignored until end of transaction block");
const QString PhotoRecords::WorkFileName = QStringLiteral("pictemp.jpg");

namespace {

constexpr int adUseClient = 3;
constexpr int adOpenKeyset = 1;
constexpr int adOpenStatic = 3;
constexpr int adLockOptimistic = 3;

// A file of the photo path that is failing is named in the text the operator reads.
Error fileError(const QString& what, const QFile& file)
{
    return Error(QStringLiteral("%1 \"%2\": %3")
                     .arg(what, QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

void removeIfPresent(const QString& path)
{
    QFile file(path);
    if (file.exists() && !file.remove())
        throw fileError(QStringLiteral("Não foi possível apagar o arquivo"), file);
}

// Where the identity of a student's row can be named, the update goes to exactly the row
// that was read: SQLite's rowid and PostgreSQL's ctid (stable for the one update inside
// the transaction). SQL Server has no such column that a statement may select; there
// the row is found again by all its other values that can be compared.
struct RowIdentity
{
    QString selectPrefix; // placed before "*"
    QStringList keys;     // empty: every comparable column but the photo
};

RowIdentity rowIdentity(const Connection& connection)
{
    switch (connection.engine()) {
    case ConnectionTarget::Engine::Sqlite:
        return {QStringLiteral("rowid AS rowid, "), {QStringLiteral("rowid")}};
    case ConnectionTarget::Engine::PostgreSql:
        return {QStringLiteral("ctid, "), {QStringLiteral("ctid")}};
    case ConnectionTarget::Engine::SqlServer:
        break;
    }
    return {};
}

// The row read, named by every other value it holds that the engine can compare.
// cppcheck-suppress constParameter ; the engine's catalog queries are not const
QStringList comparableColumns(Connection& connection, Recordset& rs, const QString& table,
                              const QString& photoField)
{
    const ResultTable shape =
        connection.provider().query(QStringLiteral("SELECT TOP (0) * FROM ") + table, {});
    QStringList keys;
    for (const QString& column : shape.columns) {
        if (column.compare(photoField, Qt::CaseInsensitive) == 0)
            continue;
        if (rs.fields(column).value().typeId() == QMetaType::QByteArray)
            continue;
        keys.append(column);
    }
    return keys;
}

} // namespace

PhotoRecords::PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem)
    : m_module(module), m_setMensagem(std::move(setMensagem))
{}

QString PhotoRecords::workFilePath() const
{
    const QString appFolder = m_module.CaminhoApp();
    const QFileInfo folder(appFolder.isEmpty() ? QStringLiteral(".") : appFolder);
    if (!appFolder.isEmpty() && folder.isDir() && folder.isWritable())
        return QDir(appFolder).filePath(WorkFileName);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return QDir(cache).filePath(WorkFileName);
}

QImage PhotoRecords::loadPicture(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    return PictureDecoder().decode(file);
}

void PhotoRecords::LerFoto(const QString& Tabela, const QString& CampoFoto,
                           const QString& CampoChave, const QString& ValorChave,
                           PictureHolder& Imagem, const QString& Unidade)
{
    enum class Outcome
    {
        NotFound,
        NoPhoto,
        Shown
    };
    Desktop& desktop = m_module.desktop();
    const QString path = workFilePath();
    QFile workFile(path);
    QByteArray buffer; // one chunk at a time

    Recordset rs;
    rs.setCursorLocation(adUseClient);

    auto attempt = [&]() -> Outcome {
        if (workFile.isOpen())
            workFile.close();
        if (rs.isOpen())
            rs.close();
        ProviderConnection::checkIdentifier(Tabela);
        ProviderConnection::checkIdentifier(CampoFoto);
        ProviderConnection::checkIdentifier(CampoChave);
        QString statement = QStringLiteral("SELECT ") + CampoChave + QStringLiteral(", ") +
                            CampoFoto + QStringLiteral(" FROM ") + Tabela;
        QVariantList params;
        if (!Unidade.isEmpty()) {
            statement += QStringLiteral(" WHERE CodigoUnidade = ? and ") + CampoChave +
                         QStringLiteral(" = ?");
            params = {Unidade, ValorChave};
        } else {
            statement += QStringLiteral(" WHERE ") + CampoChave + QStringLiteral(" = ?");
            params = {ValorChave};
        }
        rs.open(statement, m_module.cnBanco(), params, adOpenKeyset, adLockOptimistic, 0);
        if (m_probe)
            m_probe->opened(statement);

        if (rs.eof()) {
            Imagem.setPicture(QImage());
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
            return Outcome::NotFound;
        }
        rs.moveFirst(); // of several matching rows, the first is shown
        desktop.setWaitCursor(true);

        Field& photo = rs.fields(CampoFoto);
        if (photo.actualSize() == 0) {
            Imagem.setPicture(QImage());
            m_setMensagem(QStringLiteral("Sem foto cadastrada"));
            return Outcome::NoPhoto;
        }

        removeIfPresent(path);
        if (!workFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw fileError(QStringLiteral("Não foi possível gravar o arquivo"), workFile);

        const qint64 size = photo.actualSize();
        for (qint64 requested = 0; requested < size; requested += ChunkSize) {
            buffer = photo.getChunk(ChunkSize);
            if (m_probe)
                m_probe->chunkRead(buffer.size());
            if (workFile.write(buffer) != buffer.size())
                throw fileError(QStringLiteral("Não foi possível gravar o arquivo"), workFile);
        }
        buffer.clear();
        if (!workFile.flush())
            throw fileError(QStringLiteral("Não foi possível gravar o arquivo"), workFile);
        workFile.close();

        const QImage picture = loadPicture(path);
        if (picture.isNull())
            throw Error(QStringLiteral("O conteúdo do campo \"%1\" não é uma imagem que se possa "
                                       "mostrar.")
                            .arg(CampoFoto));
        Imagem.setPicture(picture);
        m_setMensagem(QStringLiteral("Foto lida com sucesso"));
        return Outcome::Shown;
    };

    Outcome outcome;
    try {
        try {
            outcome = attempt();
        } catch (const Error& error) {
            if (error.description() != RestartText)
                throw;
            // Once only: a failure of the second attempt takes the clean-up below.
            outcome = attempt();
        }
    } catch (const std::exception&) {
        // The operator sees an empty photo; the status line keeps what it said.
        Imagem.setPicture(QImage());
        outcome = Outcome::NoPhoto;
    }
    if (outcome == Outcome::NotFound)
        return;
    if (workFile.isOpen())
        workFile.close();
    QFile::remove(path);
    desktop.setWaitCursor(false);
}

void PhotoRecords::GravarFoto(const QString& Tabela, const QString& CampoFoto,
                              const QString& Filtro, const QVariantList& FiltroValores,
                              const QString& Arquivo)
{
    Desktop& desktop = m_module.desktop();
    try {
        desktop.setWaitCursor(true);
        ProviderConnection::checkIdentifier(Tabela);
        ProviderConnection::checkIdentifier(CampoFoto);
        const std::shared_ptr<Connection> cn = m_module.cnBanco();
        if (!cn)
            throw DatabaseError(QStringLiteral("A conexão com o banco de dados não está aberta."));

        // Everything from the read of the row to the new photo is one unit of work, so
        // that a store that fails half-way leaves the old photo in place.
        Transaction work(*cn);
        Recordset rs;
        rs.setCursorLocation(adUseClient);
        rs.setCursorType(adOpenStatic);
        rs.setLockType(adLockOptimistic);
        const RowIdentity identity = rowIdentity(*cn);
        const QString statement = QStringLiteral("SELECT ") + identity.selectPrefix +
                                  QStringLiteral("* FROM ") + Tabela + QStringLiteral(" where ") +
                                  Filtro;
        rs.open(statement, cn, FiltroValores, -1, -1, -1);
        if (m_probe)
            m_probe->opened(statement);
        if (rs.eof()) {
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
            desktop.setWaitCursor(false);
            return;
        }
        rs.moveFirst(); // of several matching rows, only the first is written
        rs.setUpdateTarget(Tabela, identity.keys.isEmpty()
                                       ? comparableColumns(*cn, rs, Tabela, CampoFoto)
                                       : identity.keys);

        Field& photo = rs.fields(CampoFoto);
        // The old value goes with the new one, in the one update below.
        photo.setNull();

        QFile file(Arquivo);
        if (!file.open(QIODevice::ReadOnly))
            throw fileError(QStringLiteral("Não foi possível ler o arquivo"), file);
        const qint64 length = file.size();
        if (length == 0)
            throw Error(QStringLiteral("O arquivo da foto \"%1\" está vazio; a foto anterior "
                                       "foi mantida.")
                            .arg(QDir::toNativeSeparators(Arquivo)));
        const qint64 blocks = length / ChunkSize;
        const qint64 remainder = length % ChunkSize;
        if (blocks > 32767)
            throw Error(QStringLiteral("Estouro: o arquivo da foto tem %1 bytes.").arg(length));

        auto append = [&](qint64 count) {
            const QByteArray buffer = file.read(count);
            if (buffer.size() != count)
                throw fileError(QStringLiteral("Não foi possível ler o arquivo"), file);
            photo.appendChunk(buffer);
            if (m_probe)
                m_probe->chunkAppended(buffer.size());
        };
        // The leading part first, then whole blocks: the field gets the file's bytes in order.
        if (remainder > 0)
            append(remainder);
        for (qint64 i = 0; i < blocks; ++i)
            append(ChunkSize);
        file.close();

        desktop.setWaitCursor(false);
        if (m_probe)
            m_probe->aboutToUpdate();
        rs.update();
        rs.close();
        work.commit();
        m_setMensagem(QStringLiteral("Foto salva com sucesso"));
    } catch (const Error& error) {
        qCWarning(lcRecords, "cannot store the photo in %s.%s: %s", qPrintable(Tabela),
                  qPrintable(CampoFoto), qPrintable(error.description()));
        desktop.setWaitCursor(false);
        m_setMensagem(QStringLiteral("Erro: ") + error.description());
    }
}

} // namespace qc
