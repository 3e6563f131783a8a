#include "camera/CaptureWindow.h"

#include "camera/CaptureDriver.h"
#include "camera/PreviewImage.h"
#include "camera/SourceDialog.h"
#include "core/Logging.h"

#include <QPainter>
#include <QTimer>

namespace qc {

namespace {
constexpr int DefaultPreviewRateMs = 66;
}

CaptureWindow::CaptureWindow(const QString& name, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), m_previewTimer(new QTimer(this))
{
    setWindowTitle(name);
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_previewTimer->setInterval(DefaultPreviewRateMs);
    connect(m_previewTimer, &QTimer::timeout, this, &CaptureWindow::takeFrame);
}

CaptureWindow::~CaptureWindow()
{
    // A window destroyed while connected lets go of the device, so that the next
    // window (or another program) can open it.
    disconnectDriver();
}

CameraStatus CaptureWindow::connectDriver(CaptureDriver* driver)
{
    if (!driver)
        return CaptureError{CaptureError::Kind::Absent, QString()};
    if (m_driver || driver->isOpen())
        return CaptureError{CaptureError::Kind::Failed, QString()};
    if (CameraStatus opened = driver->open(); !opened) {
        qCWarning(lcCamera, "cannot open camera \"%s\": %s", qUtf8Printable(driver->name()),
                  qUtf8Printable(opened.error().reason));
        return opened;
    }
    qCDebug(lcCamera, "camera \"%s\" open", qUtf8Printable(driver->name()));
    m_driver = driver;
    connect(driver, &CaptureDriver::streamEnded, this, &CaptureWindow::streamEnded);
    showLatest(true);
    return {};
}

void CaptureWindow::disconnectDriver()
{
    m_previewTimer->stop();
    if (m_driver) {
        disconnect(m_driver, nullptr, this, nullptr);
        m_driver->close();
    }
    m_driver = nullptr;
}

void CaptureWindow::streamEnded(const CaptureError& error)
{
    // The device vanished or failed: the window goes dark rather than freeze on a
    // stale frame that a grab would then take for a current one.
    m_previewTimer->stop();
    if (m_driver) {
        qCWarning(lcCamera, "camera \"%s\" stopped: %s", qUtf8Printable(m_driver->name()),
                  qUtf8Printable(error.reason));
        disconnect(m_driver, nullptr, this, nullptr);
    }
    m_driver = nullptr;
    m_shown = QImage();
    m_lostError = error;
    update();
    emit streamLost();
}

void CaptureWindow::setPreview(bool on)
{
    m_preview = on;
    if (on && m_driver)
        m_previewTimer->start();
    else
        m_previewTimer->stop();
    showLatest(true);
}

void CaptureWindow::setPreviewRate(int milliseconds)
{
    m_previewTimer->setInterval(milliseconds > 0 ? milliseconds : DefaultPreviewRateMs);
}

int CaptureWindow::previewRate() const
{
    return m_previewTimer->interval();
}

void CaptureWindow::setScale(bool on)
{
    m_scale = on;
    showLatest(true);
}

QImage CaptureWindow::currentFrame() const
{
    return m_driver ? m_driver->currentFrame() : QImage();
}

void CaptureWindow::takeFrame()
{
    showLatest(false);
}

void CaptureWindow::showLatest(bool evenIfSeen)
{
    if (!m_driver || !m_preview)
        return;
    // A camera slower than the preview rate leaves nothing new to convert.
    const quint64 frame = m_driver->frameCount();
    if (!evenIfSeen && frame == m_shownFrame && !m_shown.isNull())
        return;
    const qreal ratio = devicePixelRatioF();
    QImage next;
    if (m_scale) {
        next = m_driver->previewFrame(size() * ratio);
        next.setDevicePixelRatio(ratio);
    } else {
        next = previewImage(m_driver->currentFrame(), size(), false);
    }
    // A frame that could not be decoded leaves the last good picture up.
    if (next.isNull())
        return;
    m_shown = next;
    m_shownFrame = frame;
    update();
}

bool CaptureWindow::showSourceDialog()
{
    if (!m_driver)
        return false;
    // A hidden capture window cannot carry a dialog; its owner, the main window, does.
    QWidget* owner = isVisible() ? window() : parentWidget();
    // The device's own page first, the dialog every program shows for it.
    if (m_driver->showPropertyPage(owner ? quintptr(owner->window()->internalWinId()) : 0))
        return true;
    if (!m_driver || m_driver->controls().isEmpty())
        return false;
    SourceDialog dialog(*m_driver, owner);
    dialog.exec();
    return true;
}

void CaptureWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintPreview(painter, size(), m_preview ? m_shown : QImage());
}

void CaptureWindow::resizeEvent(QResizeEvent*)
{
    showLatest(true);
}

} // namespace qc
