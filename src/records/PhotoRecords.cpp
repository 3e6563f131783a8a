#include "records/PhotoRecords.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "core/Logging.h"
#include "imaging/PictureDecoder.h"
#include "records/Connection.h"
#include "records/DatabaseError.h"
#include "records/Module1.h"
#include "records/ProviderConnection.h"

namespace qc {

PhotoRecords::PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem)
    : m_module(module), m_repository(module), m_setMensagem(std::move(setMensagem))
{}

// Steps of one read: the row's photo, checked, decoded from memory and shown. Returns
// what was found; the status line and the picture are set on every path but a failure.
PhotoRecords::Outcome PhotoRecords::showPhoto(const ReadRequest& request, PictureHolder& Imagem)
{
    QByteArray bytes;
    const Outcome found =
        m_repository.readField(request.Tabela, request.CampoFoto, request.CampoChave,
                               request.ValorChave, request.Unidade, bytes);
    if (found == Outcome::NotFound) {
        Imagem.setPicture(QImage());
        m_setMensagem(QStringLiteral("Registro não encontrado!"));
        return Outcome::NotFound;
    }
    m_module.desktop().setWaitCursor(true);
    if (found == Outcome::NoPhoto) {
        Imagem.setPicture(QImage());
        m_setMensagem(QStringLiteral("Sem foto cadastrada"));
        return Outcome::NoPhoto;
    }
    if (m_probe)
        for (qsizetype offset = 0; offset < bytes.size(); offset += ChunkSize)
            m_probe->chunkRead(qMin(ChunkSize, bytes.size() - offset));

    QImage picture = PictureDecoder().decode(bytes);
    bytes = QByteArray(); // the picture is shown while the bytes are not held as well
    if (picture.isNull())
        throw Error(QStringLiteral("O conteúdo do campo \"%1\" não é uma imagem que se possa "
                                   "mostrar.")
                        .arg(request.CampoFoto));
    Imagem.setPicture(picture);
    m_setMensagem(QStringLiteral("Foto lida com sucesso"));
    return Outcome::Done;
}

void PhotoRecords::LerFoto(const QString& Tabela, const QString& CampoFoto,
                           const QString& CampoChave, const QString& ValorChave,
                           PictureHolder& Imagem, const QString& Unidade)
{
    const ReadRequest request{Tabela, CampoFoto, CampoChave, ValorChave, Unidade};
    Outcome outcome = Outcome::Done;
    try {
        try {
            outcome = showPhoto(request, Imagem);
        } catch (const DatabaseError& error) {
            // The server refused the read inside a transaction that had already failed;
            // by then the repository has ended it.
            if (error.kind() != DatabaseError::Kind::AbortedTransaction)
                throw;
            // Once only: a failure of the second attempt takes the clean-up below.
            outcome = showPhoto(request, Imagem);
        }
    } catch (const std::exception& error) {
        // An empty box beside an old success would read as a success.
        Imagem.setPicture(QImage());
        const auto* ours = dynamic_cast<const Error*>(&error);
        m_setMensagem(QStringLiteral("Erro: ") +
                      (ours ? ours->description() : QString::fromLocal8Bit(error.what())));
    }
    if (outcome != Outcome::NotFound)
        m_module.desktop().setWaitCursor(false);
}

// The photo's bytes as the chunks of its store: the leading part first, then whole blocks.
void PhotoRecords::appendChunks(const QByteArray& Foto)
{
    const qint64 length = Foto.size();
    const qint64 blocks = length / ChunkSize;
    const qint64 remainder = length % ChunkSize;
    if (length == 0)
        throw Error(QStringLiteral("O conteúdo da foto está vazio; a foto anterior foi mantida."));
    if (blocks > 32767)
        throw Error(QStringLiteral("Estouro: o arquivo da foto tem %1 bytes.").arg(length));
    if (!m_probe)
        return;
    if (remainder > 0)
        m_probe->chunkAppended(qsizetype(remainder));
    for (qint64 i = 0; i < blocks; ++i)
        m_probe->chunkAppended(ChunkSize);
}

bool PhotoRecords::GravarFoto(const QString& Tabela, const QString& CampoFoto,
                              const QString& Filtro, const QVariantList& FiltroValores,
                              const QByteArray& Foto)
{
    Desktop& desktop = m_module.desktop();
    try {
        desktop.setWaitCursor(true);
        ProviderConnection::checkIdentifier(Tabela);
        ProviderConnection::checkIdentifier(CampoFoto);
        appendChunks(Foto);
        desktop.setWaitCursor(false);
        if (m_probe)
            m_probe->aboutToUpdate();
        if (m_repository.writeField(Tabela, CampoFoto, Filtro, FiltroValores, Foto) ==
            Outcome::NotFound) {
            m_setMensagem(QStringLiteral("Registro não encontrado!"));
            return false;
        }
        m_setMensagem(QStringLiteral("Foto salva com sucesso"));
        return true;
    } catch (const Error& error) {
        qCWarning(lcRecords, "cannot store the photo in %s.%s: %s", qUtf8Printable(Tabela),
                  qUtf8Printable(CampoFoto), qUtf8Printable(error.description()));
        desktop.setWaitCursor(false);
        m_setMensagem(QStringLiteral("Erro: ") + error.description());
    }
    return false;
}

} // namespace qc
