#include "imaging/JpegExport.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "imaging/ImageControl.h"

namespace qc {

JpegExport::JpegExport(ImageControl* ImagXpress2, Desktop& desktop)
    : m_photo(ImagXpress2), m_desktop(desktop)
{}

void JpegExport::cmdSalvar_Click()
{
    // Each export opens with an empty name, and the name is used exactly as chosen:
    // no extension is added.
    const QString fileName = m_desktop.saveFileName(QStringLiteral("JPEG |*.jpeg"));
    m_photo->setSaveName(fileName);
    m_photo->setSaveFormat(ImageControl::SaveFormatJpeg);
    try {
        m_photo->saveImage();
    } catch (const Error& error) {
        // A failed export left silent would let the operator believe the file exists.
        m_desktop.messageBox(QStringLiteral("Erro: ") + error.description(), QString(),
                             Desktop::Icon::Critical);
    }
}

} // namespace qc
