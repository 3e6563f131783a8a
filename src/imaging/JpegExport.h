#pragma once

namespace qc {

class Desktop;
class ImageControl;

// "Salvar em Arquivo JPG...": the confirmed photo written to a JPEG file that the
// operator chooses in the Save dialog.
class JpegExport
{
public:
    JpegExport(ImageControl* ImagXpress2, Desktop& desktop);

    void cmdSalvar_Click();

private:
    ImageControl* m_photo;
    Desktop& m_desktop;
};

} // namespace qc
