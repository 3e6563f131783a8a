#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QTimer;

namespace qc {

// The image control: holds one image, shows it at a zoom factor with scroll bars when it
// does not fit, draws a rubber-band selection and cuts the region under it, and saves
// its image to a file. Positions given to it are in the control's own pixels (viewport
// coordinates); the mouse events it reports carry twips relative to the control.
class ImageControl : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int SaveFormatJpeg = 8;
    static constexpr int FitBestFit = 2;

    explicit ImageControl(QWidget* parent = nullptr);
    ~ImageControl() override;

    // Picture: an empty image clears the control.
    void setPicture(const QImage& image);
    QImage picture() const;
    bool hasImage() const;

    void zoomTo(float factor);
    void fitToWindow(int mode); // FitBestFit: the whole image fitted, aspect kept
    double zoomFactor() const;

    // SelectionBand(false) / SelectionBand(true, x, y) / SelectionBandTo(x, y).
    void selectionBand(bool on, int x = 0, int y = 0);
    void selectionBandTo(int x, int y);
    bool hasSelectionBand() const;
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
    // Writes the image to saveName() in saveFormat() before returning; throws qc::Error
    // with a description when there is no image, the path is empty or cannot be written.
    void saveImage() const;

    // Image pixel under a control (viewport) pixel at the current zoom and scroll.
    QPointF controlToImage(QPoint controlPixel) const;

signals:
    // button and shift as the mouse reports them; x, y in twips relative to the control.
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);
    void DblClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class Private;
    Private* d;
};

} // namespace qc
