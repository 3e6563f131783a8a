#include "records/PhotoRecords.h"

#include "core/AppInfo.h"
#include "core/Desktop.h"
#include "core/Error.h"
#include "core/Logging.h"
#include "core/VerifiedFile.h"
#include "imaging/PictureDecoder.h"
#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/ProviderConnection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace qc {

const QString PhotoRecords::RestartText = QStringLiteral(
    "ERROR:  current transaction is aborted, commands ignored until end of transaction block");
const QString PhotoRecords::WorkFilePrefix = QStringLiteral("pictemp-");

namespace {

// A file of the photo path that is failing is named in the text the operator reads.
Error fileError(const QString& what, const QFile& file)
{
    return Error(QStringLiteral("%1 \"%2\": %3")
                     .arg(what, QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

// Serialization failures and deadlocks (class 40) end a statement that would succeed if
// run again; a lock that stays held ends in a timeout instead, which is reported.
bool worthRetrying(const DatabaseError& error)
{
    return error.sqlState().startsWith(QLatin1String("40"));
}

} // namespace

PhotoRecords::PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem)
    : m_module(module), m_setMensagem(std::move(setMensagem))
{}

template <typename Work> auto PhotoRecords::onConnection(Work&& work)
{
    std::shared_ptr<Connection> cn = m_module.cnBanco();
    for (int attempt = 0;; ++attempt) {
        try {
            if (!cn)
                throw DatabaseError(
                    QStringLiteral("A conexão com o banco de dados não está aberta."), QString(),
                    true);
            return work(*cn);
        } catch (const DatabaseError& error) {
            if (attempt > 0)
                throw;
            if (worthRetrying(error))
                continue;
            if (!error.connectionLost())
                throw;
            try {
                cn = m_module.reconnect();
            } catch (const DatabaseError& reopen) {
                if (reopen.connectionLost()) // no server stored: nothing to reopen
                    throw error;
                throw DatabaseError(error.description() + QLatin1Char('\n') + reopen.description(),
                                    reopen.sqlState(), true);
            }
        }
    }
}

PhotoRecords::Outcome PhotoRecords::writeField(const QString& Tabela, const QString& CampoFoto,
                                               const QString& Filtro,
                                               const QVariantList& FiltroValores,
                                               const QByteArray& bytes)
{
    ProviderConnection::checkIdentifier(Tabela);
    ProviderConnection::checkIdentifier(CampoFoto);
    // The row is named by its key fields and the photo written once: no hidden row
    // address (a table may have its own "rowid", or none), no read of the old photo, no
    // empty value written first for a trigger to see.
    // One statement, so it is whole or not at all without a transaction of its own (one
    // round trip to a server): it changes the row only when the key names exactly one.
    const QString statement = QStringLiteral("UPDATE ") + Tabela + QStringLiteral(" SET ") +
                              CampoFoto + QStringLiteral(" = ? WHERE (") + Filtro +
                              QStringLiteral(") AND (SELECT COUNT(*) FROM ") + Tabela +
                              QStringLiteral(" WHERE ") + Filtro + QStringLiteral(") = 1");
    QVariantList values;
    values.reserve(2 * FiltroValores.size() + 1);
    values.append(bytes);
    values.append(FiltroValores);
    values.append(FiltroValores);
    if (m_probe)
        m_probe->opened(statement);
    return onConnection([&](Connection& cn) {
        for (int attempt = 0;; ++attempt) {
            if (cn.execute(statement, values) == 1)
                return Outcome::Done;
            // Nothing changed: no row, or several that the key cannot tell apart.
            const ResultTable count =
                cn.provider().query(QStringLiteral("SELECT COUNT(*) FROM ") + Tabela +
                                        QStringLiteral(" WHERE ") + Filtro,
                                    FiltroValores);
            const qint64 rows = count.rows.isEmpty() ? 0 : count.rows.first().first().toLongLong();
            if (rows == 0)
                return Outcome::NotFound;
            if (rows > 1)
                throw Error(QStringLiteral("Há %1 registros para esta unidade e matrícula; "
                                           "nenhuma foto foi alterada.")
                                .arg(rows));
            // One row now: another station changed it while this store ran.
            if (attempt > 0)
                throw Error(QStringLiteral("O registro do aluno mudou durante a gravação em "
                                           "outra estação; a foto não foi gravada."));
        }
    });
}

PhotoRecords::Outcome PhotoRecords::readField(const QString& Tabela, const QString& CampoFoto,
                                              const QString& CampoChave, const QString& ValorChave,
                                              const QString& Unidade, QByteArray& bytes)
{
    bytes.clear();
    ProviderConnection::checkIdentifier(Tabela);
    ProviderConnection::checkIdentifier(CampoFoto);
    ProviderConnection::checkIdentifier(CampoChave);
    QString statement = QStringLiteral("SELECT ") + CampoChave + QStringLiteral(", ") + CampoFoto +
                        QStringLiteral(" FROM ") + Tabela;
    QVariantList params;
    if (!Unidade.isEmpty()) {
        statement +=
            QStringLiteral(" WHERE CodigoUnidade = ? and ") + CampoChave + QStringLiteral(" = ?");
        params = {Unidade, ValorChave};
    } else {
        statement += QStringLiteral(" WHERE ") + CampoChave + QStringLiteral(" = ?");
        params = {ValorChave};
    }
    ResultTable table =
        onConnection([&](Connection& cn) { return cn.provider().query(statement, params, 1); });
    if (m_probe)
        m_probe->opened(statement);
    if (table.rows.isEmpty())
        return Outcome::NotFound;
    QVariant& value = table.rows.first()[1];
    if (ProviderConnection::isNull(value))
        return Outcome::NoPhoto;
    // Taken over, not copied: the row lets go of the bytes with the table.
    bytes = value.typeId() == QMetaType::QByteArray
                ? std::move(*static_cast<QByteArray*>(value.data()))
                : value.toString().toUtf8();
    return bytes.isEmpty() ? Outcome::NoPhoto : Outcome::Done;
}

PhotoRecords::Outcome PhotoRecords::storePhoto(const QString& unit, const QString& enrolment,
                                               const QByteArray& bytes)
{
    return writeField(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                      QStringLiteral("codigounidade = ? and matricula = ?"), {unit, enrolment},
                      bytes);
}

PhotoRecords::Outcome PhotoRecords::readPhoto(const QString& unit, const QString& enrolment,
                                              QByteArray& bytes)
{
    return readField(QStringLiteral("Aca_FichaCadastralAluno"), QStringLiteral("foto"),
                     QStringLiteral("matricula"), enrolment, unit, bytes);
}

QString PhotoRecords::workFolder()
{
    // Photos of minors: the user's own folders only. The runtime folder is private to the
    // user and lives in memory; without one, the cache folder.
    QString folder;
#ifdef Q_OS_WIN
    // Windows' "runtime" location is the home folder, which others may be let into.
    folder = ownDataFolder();
#else
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isWritable())
        folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
#endif
    QDir().mkpath(folder);
    return folder;
}

QString PhotoRecords::newWorkFile()
{
    return VerifiedFile::createPrivate(workFolder(), WorkFilePrefix, QStringLiteral(".jpg"));
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
    Desktop& desktop = m_module.desktop();
    QString path;
    QByteArray bytes;

    auto attempt = [&]() -> Outcome {
        const Outcome found = readField(Tabela, CampoFoto, CampoChave, ValorChave, Unidade, bytes);
        if (found == Outcome::NotFound) {
            Imagem.setPicture(QImage());
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
            return Outcome::NotFound;
        }
        desktop.setWaitCursor(true);
        if (found == Outcome::NoPhoto) {
            Imagem.setPicture(QImage());
            m_setMensagem(QStringLiteral("Sem foto cadastrada"));
            return Outcome::NoPhoto;
        }
        if (m_probe)
            for (qsizetype offset = 0; offset < bytes.size(); offset += ChunkSize)
                m_probe->chunkRead(qMin(ChunkSize, bytes.size() - offset));
        if (path.isEmpty())
            path = newWorkFile();
        VerifiedFile::write(path, bytes, VerifiedFile::Access::Private);
        bytes = QByteArray(); // the decoder reads the file: the photo is not held twice

        const QImage picture = loadPicture(path);
        if (picture.isNull())
            throw Error(QStringLiteral("O conteúdo do campo \"%1\" não é uma imagem que se possa "
                                       "mostrar.")
                            .arg(CampoFoto));
        Imagem.setPicture(picture);
        m_setMensagem(QStringLiteral("Foto lida com sucesso"));
        return Outcome::Done;
    };

    Outcome outcome = Outcome::Done;
    try {
        try {
            outcome = attempt();
        } catch (const Error& error) {
            if (error.description() != RestartText)
                throw;
            // Once only: a failure of the second attempt takes the clean-up below.
            outcome = attempt();
        }
    } catch (const Error& error) {
        // An empty box beside an old success would read as a success.
        Imagem.setPicture(QImage());
        m_setMensagem(QStringLiteral("Erro: ") + error.description());
    } catch (const std::exception& error) {
        Imagem.setPicture(QImage());
        m_setMensagem(QStringLiteral("Erro: ") + QString::fromLocal8Bit(error.what()));
    }
    if (!path.isEmpty())
        QFile::remove(path);
    if (outcome != Outcome::NotFound)
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

        // The file's bytes in order, the leading part first and then whole blocks, into
        // room of the file's size taken once.
        QByteArray bytes(length, Qt::Uninitialized);
        qint64 offset = 0;
        auto append = [&](qint64 count) {
            if (file.read(bytes.data() + offset, count) != count)
                throw fileError(QStringLiteral("Não foi possível ler o arquivo"), file);
            offset += count;
            if (m_probe)
                m_probe->chunkAppended(qsizetype(count));
        };
        if (remainder > 0)
            append(remainder);
        for (qint64 i = 0; i < blocks; ++i)
            append(ChunkSize);
        file.close();

        desktop.setWaitCursor(false);
        if (m_probe)
            m_probe->aboutToUpdate();
        if (writeField(Tabela, CampoFoto, Filtro, FiltroValores, bytes) == Outcome::NotFound)
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
        else
            m_setMensagem(QStringLiteral("Foto salva com sucesso"));
    } catch (const Error& error) {
        qCWarning(lcRecords, "cannot store the photo in %s.%s: %s", qUtf8Printable(Tabela),
                  qUtf8Printable(CampoFoto), qUtf8Printable(error.description()));
        desktop.setWaitCursor(false);
        m_setMensagem(QStringLiteral("Erro: ") + error.description());
    }
}

} // namespace qc
