#pragma once

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

// Looks inside a photo procedure while it runs: tests count the chunks and break the
// connection at a chosen moment, the benchmark stays silent. Every call may throw, and
// the procedure then takes its failure path as if the database had failed there.
class PhotoProbe
{
public:
    virtual ~PhotoProbe() = default;
    virtual void opened(const QString& statement) { Q_UNUSED(statement); }
    virtual void chunkRead(qsizetype bytes) { Q_UNUSED(bytes); }
    virtual void chunkAppended(qsizetype bytes) { Q_UNUSED(bytes); }
    virtual void aboutToUpdate() {}
};

// Reading and storing the photo field of a student's row on the shared connection.
// The photo passes through the work file, as the image control reads and writes files.
class PhotoRecords
{
public:
    static constexpr qsizetype ChunkSize = 16384;
    // The one server message after which a read is tried once more from the query.
    static const QString RestartText;
    static const QString WorkFileName;

    // setMensagem is the status line of the capture window.
    PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem);

    void setProbe(PhotoProbe* probe) { m_probe = probe; }

    // Shows the photo of the row whose CampoChave is ValorChave (and whose unit is
    // Unidade, unless that is empty) in Imagem. The outcome goes to the status line;
    // a failure leaves Imagem empty and the status line as it was.
    void LerFoto(const QString& Tabela, const QString& CampoFoto, const QString& CampoChave,
                 const QString& ValorChave, PictureHolder& Imagem, const QString& Unidade);

    // Replaces the photo of the first row that Filtro selects with the bytes of Arquivo,
    // in one transaction: on any failure the row keeps the photo it had. Filtro is a
    // condition with a '?' for each of FiltroValores, so values are never SQL.
    void GravarFoto(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                    const QVariantList& FiltroValores, const QString& Arquivo);

    // The work file: in the application folder when that can be written, else in the
    // user's cache folder.
    QString workFilePath() const;

    // The picture in a file, or an empty image for anything that is not a whole picture
    // of a sane size (unknown bytes, a truncated JPEG, an absurd declared size).
    // The picture in the work file, through the station's one decoder of stored photos
    // (only common formats, cut-off files and absurd declared sizes refused).
    static QImage loadPicture(const QString& path);

private:
    Module1& m_module;
    std::function<void(const QString&)> m_setMensagem;
    PhotoProbe* m_probe = nullptr;
};

} // namespace qc
