#pragma once

#include "records/PhotoRepository.h"

#include <QImage>
#include <QString>
#include <QVariant>

#include <functional>

namespace qc {

class Module1;

// What a photo read needs of the image control that shows the photo: its picture.
class PictureHolder
{
public:
    virtual ~PictureHolder() = default;
    // An empty image clears the control.
    virtual void setPicture(const QImage& image) = 0;
};

// Reading and storing the photo field of a student's row on the shared connection.
//
// The window's procedures LerFoto/GravarFoto around the photo repository, with the
// pointer and the status line.
class PhotoRecords
{
public:
    static constexpr qsizetype ChunkSize = 16384;

    using Outcome = PhotoRepository::Outcome;

    // setMensagem is the status line of the capture window.
    PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem);

    void setProbe(PhotoProbe* probe)
    {
        m_probe = probe;
        m_repository.setProbe(probe);
    }

    // The statements these procedures run.
    PhotoRepository& repository() { return m_repository; }

    Outcome storePhoto(const QString& unit, const QString& enrolment, const QByteArray& bytes)
    {
        return m_repository.storePhoto(unit, enrolment, bytes);
    }
    Outcome readPhoto(const QString& unit, const QString& enrolment, QByteArray& bytes)
    {
        return m_repository.readPhoto(unit, enrolment, bytes);
    }

    // Shows the photo of the row whose CampoChave is ValorChave (and whose unit is
    // Unidade, unless that is empty) in Imagem, decoded from memory. The outcome goes to
    // the status line, a failure as "Erro: " and the reason.
    void LerFoto(const QString& Tabela, const QString& CampoFoto, const QString& CampoChave,
                 const QString& ValorChave, PictureHolder& Imagem, const QString& Unidade);

    // Replaces the photo of the row that Filtro selects with the JPEG bytes Foto; true
    // when the row now holds them ("Foto salva com sucesso").
    bool GravarFoto(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                    const QVariantList& FiltroValores, const QByteArray& Foto);

private:
    struct ReadRequest
    {
        const QString& Tabela;
        const QString& CampoFoto;
        const QString& CampoChave;
        const QString& ValorChave;
        const QString& Unidade;
    };
    Outcome showPhoto(const ReadRequest& request, PictureHolder& Imagem);
    void appendChunks(const QByteArray& Foto);

    Module1& m_module;
    PhotoRepository m_repository;
    std::function<void(const QString&)> m_setMensagem;
    PhotoProbe* m_probe = nullptr;
};

} // namespace qc
