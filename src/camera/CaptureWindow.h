#pragma once

#include "camera/CaptureDriver.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QTimer;

namespace qc {

// A capture window: connects to one driver, takes its latest frame at the preview
// rate and draws it, stretched to the client area when scaling is on. The driver
// makes the picture at the window's size in device pixels, so drawing it is a copy.
class CaptureWindow : public QWidget
{
    Q_OBJECT

public:
    explicit CaptureWindow(const QString& name, QWidget* parent = nullptr,
                           Qt::WindowFlags flags = {});
    ~CaptureWindow() override;

    CameraStatus connectDriver(CaptureDriver* driver);
    void disconnectDriver();
    // cppcheck-suppress CastIntegerToAddressAtReturn ; returns the pointer member, no integer
    CaptureDriver* driver() const { return m_driver; }

    void setPreview(bool on);
    bool preview() const { return m_preview; }
    void setPreviewRate(int milliseconds);
    int previewRate() const;
    void setScale(bool on);
    bool scale() const { return m_scale; }

    // The driver's latest frame, at its frame size (null when none).
    QImage currentFrame() const;
    // What the window draws for it (scaled to the client area when scaling is on).
    QImage shownImage() const { return m_shown; }

    CaptureError lostError() const { return m_lostError; }

    // Shows the driver's source dialog, modal; false when there is nothing to show.
    bool showSourceDialog();

signals:
    // The connected driver's stream ended on its own (the camera vanished or failed);
    // the window has let go of the driver. lostError() says why.
    void streamLost();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void takeFrame();
    void showLatest(bool evenIfSeen);
    void streamEnded(const CaptureError& error);

    QPointer<CaptureDriver> m_driver;
    QTimer* m_previewTimer;
    bool m_preview = false;
    bool m_scale = false;
    QImage m_shown;
    quint64 m_shownFrame = 0; // the driver's frame count when m_shown was made
    CaptureError m_lostError;
};

} // namespace qc
