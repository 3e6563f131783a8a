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
//
// Two layers: storePhoto/readPhoto move a photo's bytes and know no window, so that the
// capture window and a command line share them; LerFoto/GravarFoto are the window's
// procedures around them, with the work file, the pointer and the status line.
class PhotoRecords
{
public:
    static constexpr qsizetype ChunkSize = 16384;
    // The one server message after which a read is tried once more from the query.
    static const QString RestartText;
    // Work files are named WorkFilePrefix + six random characters + ".jpg".
    static const QString WorkFilePrefix;

    enum class Outcome
    {
        Done,
        NotFound, // no row for the key
        NoPhoto,  // a read found the row with a null or empty photo
    };

    // setMensagem is the status line of the capture window.
    PhotoRecords(Module1& module, std::function<void(const QString&)> setMensagem);

    void setProbe(PhotoProbe* probe) { m_probe = probe; }

    // The student's photo, replaced by bytes in one statement: either the row holds the
    // new photo or, on any failure (thrown as Error), the one it had. Refused when
    // several rows hold that unit and enrolment number.
    Outcome storePhoto(const QString& unit, const QString& enrolment, const QByteArray& bytes);
    // The student's stored photo into bytes (an empty unit matches by enrolment alone; of
    // several rows the first is read). Throws Error.
    Outcome readPhoto(const QString& unit, const QString& enrolment, QByteArray& bytes);

    // The same for any table, photo field and key: Filtro is a condition with a '?' for
    // each of FiltroValores, so values are never SQL.
    Outcome writeField(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                       const QVariantList& FiltroValores, const QByteArray& bytes);
    Outcome readField(const QString& Tabela, const QString& CampoFoto, const QString& CampoChave,
                      const QString& ValorChave, const QString& Unidade, QByteArray& bytes);

    // Shows the photo of the row whose CampoChave is ValorChave (and whose unit is
    // Unidade, unless that is empty) in Imagem, through a work file of its own. The
    // outcome goes to the status line, a failure as "Erro: " and the reason.
    void LerFoto(const QString& Tabela, const QString& CampoFoto, const QString& CampoChave,
                 const QString& ValorChave, PictureHolder& Imagem, const QString& Unidade);

    // Replaces the photo of the row that Filtro selects with the bytes of Arquivo.
    void GravarFoto(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                    const QVariantList& FiltroValores, const QString& Arquivo);

    // The folder of the station's work files: the user's runtime folder when there is
    // one, else the user's cache folder (on Windows the station's local application
    // data); never the program's folder.
    static QString workFolder();
    // A new work file there, empty, private to the owner, of a name no other station
    // uses. Throws Error.
    static QString newWorkFile();

    // The picture in the work file, through the station's one decoder of stored photos
    // (only common formats, cut-off files and absurd declared sizes refused).
    static QImage loadPicture(const QString& path);

private:
    // Runs work on cnBanco; when the connection turns out lost, opens it again once from
    // the stored settings and runs work once more. Every piece of work given here is
    // one statement, or a read, so running it twice cannot leave half a change.
    template <typename Work> auto onConnection(Work&& work);

    Module1& m_module;
    std::function<void(const QString&)> m_setMensagem;
    PhotoProbe* m_probe = nullptr;
};

} // namespace qc
