#include "records/PhotoRecords.h"

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

const QString PhotoRecords::WorkFilePrefix = QStringLiteral("pictemp-");

namespace {

// A file of the photo path that is failing is named in the text the operator reads.
Error fileError(const QString& what, const QFile& file)
{
    return Error(QStringLiteral("%1 \"%2\": %3")
                     .arg(what, QDir::toNativeSeparators(file.fileName()), file.errorString()));
}

} // namespace

PhotoRecords::PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem)
    : m_module(module), m_repository(module), m_setMensagem(std::move(setMensagem))
{}

QString PhotoRecords::workFolder()
{
    // Photos of minors: the user's own folders only. The runtime folder is private to the
    // user and lives in memory; without one, the cache folder.
    QString folder;
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isWritable())
        folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
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
        const Outcome found = m_repository.readField(Tabela, CampoFoto, CampoChave, ValorChave, Unidade, bytes);
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
        } catch (const DatabaseError& error) {
            // The server refused the read inside a transaction that had already failed;
            // by then the repository has ended it.
            if (error.kind() != DatabaseError::Kind::AbortedTransaction)
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
        if (m_repository.writeField(Tabela, CampoFoto, Filtro, FiltroValores, bytes) == Outcome::NotFound)
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
        else
            m_setMensagem(QStringLiteral("Foto salva com sucesso"));
    } catch (const Error& error) {
        qCWarning(lcRecords, "cannot store the photo in %s.%s: %s", qPrintable(Tabela),
                  qPrintable(CampoFoto), qPrintable(error.description()));
        desktop.setWaitCursor(false);
        m_setMensagem(QStringLiteral("Erro: ") + error.description());
    }
}

} // namespace qc
