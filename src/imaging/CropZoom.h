#pragma once

#include <QPointF>
#include <functional>

class QComboBox;

namespace qc {

class Desktop;
class ImageControl;

struct CropZoomControls
{
    ImageControl* ImagXpress1 = nullptr; // the grabbed frame, where the crop is marked
    ImageControl* ImagXpress2 = nullptr; // the confirmed photo
    QComboBox* cmbZoom = nullptr;
};

// The crop selection and the zoom of the grabbed frame. A press starts a band, moves
// drag its free corner, the release cuts the region under it into the photo; a
// double-click takes the whole frame instead.
class CropZoom
{
public:
    // Twips per pixel on each axis of the screen the frame is shown on, read at every
    // event (the operator may move the window to a screen with another resolution).
    using TwipsPerPixel = std::function<QPointF()>;

    CropZoom(const CropZoomControls& controls, Desktop& desktop, TwipsPerPixel twipsPerPixel = {});

    // True from a press on the frame until the next release on it.
    bool Arrastando = false;

    void ImagXpress1_MouseDown(int button, int shift, float x, float y);
    void ImagXpress1_MouseMove(int button, int shift, float x, float y);
    void ImagXpress1_MouseUp(int button, int shift, float x, float y);
    void ImagXpress1_DblClick();
    void cmbZoom_Click();

    // Twips to pixels: the quotient in single precision, rounded half to even.
    static int twipsToPixels(float twips, double twipsPerPixel);

private:
    CropZoomControls m_controls;
    Desktop& m_desktop;
    TwipsPerPixel m_twipsPerPixel;
};

} // namespace qc
