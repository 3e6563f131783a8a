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

bool CaptureWindow::connectDriver(CaptureDriver* driver)
{
    if (!driver || m_driver)
        return false;
    if (driver->isOpen())
        return false;
    if (!driver->open()) {
        qCWarning(lcCamera, "cannot open camera \"%s\": %s", qPrintable(driver->name()),
                  qPrintable(driver->lastError()));
        return false;
    }
    qCDebug(lcCamera, "camera \"%s\" open", qPrintable(driver->name()));
    m_driver = driver;
    connect(driver, &CaptureDriver::streamEnded, this, &CaptureWindow::streamEnded);
    takeFrame();
    return true;
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

void CaptureWindow::streamEnded()
{
    if (m_driver)
        qCWarning(lcCamera, "camera \"%s\" stopped: %s", qPrintable(m_driver->name()),
                  qPrintable(m_driver->lastError()));
    // The device vanished or failed: the window goes dark rather than freeze on a
    // stale frame that a grab would then take for a current one.
    m_previewTimer->stop();
    if (m_driver)
        disconnect(m_driver, nullptr, this, nullptr);
    m_driver = nullptr;
    m_frame = QImage();
    m_shown = QImage();
    update();
}

void CaptureWindow::setPreview(bool on)
{
    m_preview = on;
    if (on && m_driver)
        m_previewTimer->start();
    else
        m_previewTimer->stop();
    takeFrame();
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
    m_shown = previewImage(m_frame, size(), m_scale);
    update();
}

QImage CaptureWindow::currentFrame() const
{
    if (m_driver) {
        QImage latest = m_driver->currentFrame();
        if (!latest.isNull())
            return latest;
    }
    return m_frame;
}

void CaptureWindow::takeFrame()
{
    if (!m_driver)
        return;
    const QImage latest = m_driver->currentFrame();
    if (latest.isNull())
        return;
    m_frame = latest;
    if (m_preview) {
        m_shown = previewImage(m_frame, size(), m_scale);
        update();
    }
}

bool CaptureWindow::showSourceDialog()
{
    if (!m_driver || m_driver->controls().isEmpty())
        return false;
    // A hidden capture window cannot carry a dialog; its owner, the main window, does.
    QWidget* owner = isVisible() ? window() : parentWidget();
    SourceDialog dialog(*m_driver, owner);
    dialog.exec();
    return true;
}

void CaptureWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_preview && !m_shown.isNull())
        painter.drawImage(QPoint(0, 0), m_shown);
}

void CaptureWindow::resizeEvent(QResizeEvent*)
{
    m_shown = previewImage(m_frame, size(), m_scale);
}

} // namespace qc
