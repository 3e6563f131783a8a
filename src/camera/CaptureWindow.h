#pragma once

#include "camera/CaptureDriver.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class QTimer;

namespace qc {

// A capture window: connects to one driver, takes its latest frame at the preview
// rate and draws it, stretched to the client area when scaling is on.
class CaptureWindow : public QWidget
{
    Q_OBJECT

public:
    explicit CaptureWindow(const QString& name, QWidget* parent = nullptr,
                           Qt::WindowFlags flags = {});
    ~CaptureWindow() override;

    bool connectDriver(CaptureDriver* driver);
    void disconnectDriver();
    // cppcheck-suppress CastIntegerToAddressAtReturn ; returns the pointer member, no integer
    CaptureDriver* driver() const { return m_driver; }

    void setPreview(bool on);
    bool preview() const { return m_preview; }
    void setPreviewRate(int milliseconds);
    int previewRate() const;
    void setScale(bool on);
    bool scale() const { return m_scale; }

    // The frame the window holds now, at the driver's frame size (null when none).
    QImage currentFrame() const;
    // What the window draws for it (scaled to the client area when scaling is on).
    QImage shownImage() const { return m_shown; }

    // Shows the driver's source dialog, modal; false when there is nothing to show.
    bool showSourceDialog();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void takeFrame();
    void streamEnded();

    QPointer<CaptureDriver> m_driver;
    QTimer* m_previewTimer;
    bool m_preview = false;
    bool m_scale = false;
    QImage m_frame;
    QImage m_shown;
};

} // namespace qc
