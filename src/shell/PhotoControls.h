#pragma once

#include "imaging/ImageControl.h"
#include "records/PhotoPanel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace qc {

// The capture window's controls as the photo buttons reach them.
class PhotoControls : public PhotoPanelView
{
public:
    PhotoControls(ImageControl* ImagXpress2, QLabel* lblMensagem, QLineEdit* txtMatricula,
                  QComboBox* cmbUnidade)
        : m_photo(ImagXpress2), m_message(lblMensagem), m_enrolment(txtMatricula),
          m_units(cmbUnidade)
    {}

    QString matricula() const override { return m_enrolment->text(); }
    QString unitEntryText() const override { return m_units->currentText(); }
    QVariant unitEntryCode() const override { return m_units->currentData(); }
    // A driver's message may run to several lines: the status line keeps the first, where
    // the reason is, and the tooltip has it all.
    void setMensagem(const QString& text) override
    {
        const qsizetype end = text.indexOf(QLatin1Char('\n'));
        m_message->setText(end < 0 ? text : text.left(end).trimmed());
        m_message->setToolTip(text);
    }
    void setPicture(const QImage& image) override { m_photo->setPicture(image); }
    QByteArray encodeJpeg() override { return m_photo->encodeJpeg(); }

private:
    ImageControl* m_photo;
    QLabel* m_message;
    QLineEdit* m_enrolment;
    QComboBox* m_units;
};

} // namespace qc
