#pragma once

#include "records/PhotoRecords.h"

#include <QString>
#include <QVariant>

namespace qc {

class Module1;

// What the photo buttons need of the capture window's controls, which this layer cannot
// name: the enrolment number, the chosen unit, the status line and the photo control.
class PhotoPanelView : public PictureHolder
{
public:
    // txtMatricula's text exactly as typed.
    virtual QString matricula() const = 0;
    // cmbUnidade's current text, and the unit code kept with the chosen entry (invalid
    // when the entry keeps none).
    virtual QString unitEntryText() const = 0;
    virtual QVariant unitEntryCode() const = 0;
    virtual void setMensagem(const QString& text) = 0;
    // The photo control's image as a JPEG file's bytes, in memory; throws Error when it
    // cannot (no image, an encoder that refuses it).
    virtual QByteArray encodeJpeg() = 0;
};

// Told about each store of "&Salvar Foto": just before the row is written (false stops
// the store, the observer having said why), and once the row holds the new photo.
class PhotoStoreObserver
{
public:
    virtual ~PhotoStoreObserver() = default;
    virtual bool aboutToStore(const QString& unit, const QString& enrolment) = 0;
    virtual void stored(const QString& unit, const QString& enrolment, const QByteArray& bytes) = 0;
};

// "&Salvar Foto" and "&Ver Foto": the student's photo between the photo control and the
// student's row, in memory: a photo of a minor never lands on the disk on its way.
class PhotoPanel
{
public:
    static const QString Tabela;
    static const QString CampoFoto;
    static const QString CampoChave;

    PhotoPanel(PhotoPanelView& view, Module1& module, PhotoStoreObserver* observer = nullptr);

    void Command1_Click();
    void cmdVerFoto_Click();

    // The unit code of the chosen entry, whole.
    QString unidade() const;

    PhotoRecords& records() { return m_records; }

private:
    bool matriculaMissing() const;

    PhotoPanelView& m_view;
    Module1& m_module;
    PhotoStoreObserver* m_observer;
    PhotoRecords m_records;
};

} // namespace qc
