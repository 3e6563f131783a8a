#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QString>

#include <memory>

namespace qc {

// The image control: holds one image, shows it at a zoom factor with scroll bars when it
// does not fit, draws a rubber-band selection and cuts the region under it, and saves
// its image to a file. Positions given to it are in the control's own pixels (viewport
// coordinates: the control has no frame, so they are the same); the mouse events it
// reports carry twips relative to the control. The image is drawn from the top-left
// corner of the viewport.
//
// Mouse events and double-clicks. The window that uses the control starts a band on
// MouseDown and cuts it on MouseUp, and a cut of an empty band shows a modal error box.
// A double-click must leave the whole frame as the photo, so its first click must not
// reach the window as a press and a release: the box would pop up between the clicks.
// Therefore a press is not reported at once:
// - When the pointer then moves, with the button down, by the drag threshold or more
//   (the platform's start-drag distance; smaller crops are useless for a photo, and a
//   hand that shakes a few pixels during a double-click must not turn it into a crop),
//   MouseDown is reported at the pressed point, then MouseMove as usual, and MouseUp at
//   the release.
// - When the button is released before that, the click is held for the click hold
//   interval (the platform's double-click interval). If no second press comes in that
//   time, MouseDown and MouseUp are reported together: a plain click.
// - When the second press of a double-click comes in time, only DblClick is reported;
//   that press, the moves while it is down and its release are swallowed.
// - A press of a further button while one is down reports the held press and then the
//   new one at once. Moves without a button are reported as they come (button 0).
// Hiding the control forgets a press or click that has not been reported yet.
class ImageControl : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int SaveFormatJpeg = 8;
    static constexpr int FitBestFit = 2;
    static constexpr int DefaultJpegQuality = 90;

    explicit ImageControl(QWidget* parent = nullptr);
    ~ImageControl() override;

    // Picture: an empty image clears the control. A new image removes the band.
    void setPicture(const QImage& image);
    QImage picture() const;
    bool hasImage() const;

    // Throws qc::Error for a factor that is not a positive number. Leaves fit mode.
    void zoomTo(float factor);
    // FitBestFit: the whole image fitted, aspect kept. The fit holds, across resizes and
    // new images, until the next zoomTo. Throws qc::Error for any other mode.
    void fitToWindow(int mode);
    double zoomFactor() const;
    bool isFitToWindow() const;

    // SelectionBand(false) / SelectionBand(true, x, y) / SelectionBandTo(x, y). The band
    // is kept in image pixels, mapped at the zoom and scroll of the moment of the call.
    void selectionBand(bool on, int x = 0, int y = 0);
    void selectionBandTo(int x, int y);
    bool hasSelectionBand() const;
    // A band over a region given in image pixels, as if dragged from its top-left to its
    // bottom-right corner: a crop proposed by the program lands on exact pixels at any zoom.
    void setSelectionRect(const QRect& imageRect);
    // The band in image pixels, corners ordered, not clipped.
    QRect selectionRect() const;
    // A new image of the region under the band, clipped to the image. Throws qc::Error
    // when there is no image, no band, a band of zero size or one outside the image.
    QImage selectionImage() const;

    // ImageHandle put: the control takes the image over and shows it.
    void setImageHandle(QImage image);

    void setSaveName(const QString& path);
    QString saveName() const;
    void setSaveFormat(int format);
    int saveFormat() const;
    void setJpegQuality(int quality);
    int jpegQuality() const;
    // Writes the image to saveName() in saveFormat() before returning; throws qc::Error
    // with a description when there is no image, the path is empty or cannot be written,
    // or the format is not supported. A failed write leaves an existing file as it was.
    void saveImage() const;
    // The image encoded as a JPEG file's bytes at jpegQuality(), in memory; throws
    // qc::Error when there is no image or the encoder refuses it.
    QByteArray encodeJpeg() const;

    // Image pixel under a control (viewport) pixel at the current zoom and scroll.
    QPointF controlToImage(QPoint controlPixel) const;

    // The colour around and, without an image, instead of the image.
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const;

    // How long a click is held back waiting for a second click, in milliseconds; the
    // platform's double-click interval unless set (a negative value restores that).
    int clickHoldInterval() const;
    void setClickHoldInterval(int milliseconds);
    // How far, in pixels (Manhattan length), a press must move to become a drag; the
    // platform's start-drag distance unless set (a negative value restores that).
    int dragThreshold() const;
    void setDragThreshold(int pixels);
    // True while a click waits for a possible second click.
    bool isHoldingClick() const;

signals:
    // button and shift as the mouse reports them; x, y in twips relative to the control.
    // button: 1 left, 2 right, 4 middle (MouseMove: the buttons held down, or 0);
    // shift: 1 Shift, 2 Ctrl, 4 Alt.
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);
    void DblClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace qc
