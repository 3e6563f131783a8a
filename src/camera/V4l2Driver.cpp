#include "camera/V4l2Driver.h"

#include "camera/FrameConverter.h"
#include "camera/PreviewImage.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <libv4lconvert.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace qc {

namespace {

constexpr unsigned BufferCount = 4;

int xioctl(int fd, unsigned long request, void* arg)
{
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

QString cString(const unsigned char* text, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(text),
                             static_cast<int>(strnlen(reinterpret_cast<const char*>(text), size)))
        .trimmed();
}

std::uint32_t deviceCaps(const v4l2_capability& cap)
{
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

// A capture format of the given pixel format and size, any field order.
v4l2_format captureFormat(std::uint32_t pixelFormat, QSize size)
{
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.pixelformat = pixelFormat;
    fmt.fmt.pix.width = size.width();
    fmt.fmt.pix.height = size.height();
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    return fmt;
}

// The first pixel format the device offers that the station reads; 0 when none.
std::uint32_t firstReadableFormat(int fd)
{
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    while (xioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0) {
        if (FrameConverter::canConvert(desc.pixelformat))
            return desc.pixelformat;
        ++desc.index;
    }
    return 0;
}

int nodeNumber(const QString& name)
{
    bool ok = false;
    const int n = name.mid(5).toInt(&ok); // after "video"
    return ok ? n : -1;
}

} // namespace

QList<V4l2Driver::Device> V4l2Driver::enumerate(const QString& devDir, int limit)
{
    QStringList names = QDir(devDir).entryList({QStringLiteral("video*")}, QDir::System);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return nodeNumber(n) < 0; }),
                names.end());
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return nodeNumber(a) < nodeNumber(b); });

    QList<Device> devices;
    for (const QString& name : names) {
        if (devices.size() >= limit)
            break;
        const QString path = devDir + QLatin1Char('/') + name;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            // A camera the user may not open is still listed, by the name the kernel
            // gives it, so that "Preview" can say why it does not start. Of a camera's
            // several nodes the first is the one that captures.
            if (errno != EACCES && errno != EPERM)
                continue;
            const QString sys = QStringLiteral("/sys/class/video4linux/") + name;
            QFile index(sys + QStringLiteral("/index"));
            if (index.open(QIODevice::ReadOnly) && index.readAll().trimmed() != "0")
                continue;
            QFile card(sys + QStringLiteral("/name"));
            const QString cardName =
                card.open(QIODevice::ReadOnly) ? QString::fromUtf8(card.readAll()).trimmed() : name;
            devices.append({path, cardName.isEmpty() ? name : cardName});
            continue;
        }
        v4l2_capability cap{};
        const bool ok = xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        ::close(fd);
        // Metadata and output nodes of the same camera have their own /dev/video
        // entries; only the node that captures frames is a camera for the station.
        if (!ok || !(deviceCaps(cap) & V4L2_CAP_VIDEO_CAPTURE) ||
            !(deviceCaps(cap) & V4L2_CAP_STREAMING))
            continue;
        devices.append({path, cString(cap.card, sizeof cap.card)});
    }
    return devices;
}

V4l2Driver::V4l2Driver(Device device, QObject* parent)
    : CaptureDriver(parent), m_device(std::move(device))
{}

V4l2Driver::~V4l2Driver()
{
    releaseDevice();
}

void V4l2Driver::setRequestedFormat(std::uint32_t pixelFormat, QSize size)
{
    m_requestedFormat = pixelFormat;
    m_requestedSize = size;
}

CaptureError::Kind V4l2Driver::kindOf(int error)
{
    switch (error) {
    case EBUSY:
        return CaptureError::Kind::Busy;
    case EACCES:
    case EPERM:
        return CaptureError::Kind::Denied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return CaptureError::Kind::Gone;
    default:
        return CaptureError::Kind::Failed;
    }
}

CaptureError V4l2Driver::fail(const QString& what, int error, CaptureError::Kind kind)
{
    releaseDevice();
    return {kind == CaptureError::Kind::None ? kindOf(error) : kind,
            QStringLiteral("%1: %2: %3")
                .arg(m_device.path, what, QString::fromLocal8Bit(std::strerror(error)))};
}

CameraStatus V4l2Driver::open()
{
    // As the device itself: one window at a time.
    if (isOpen())
        return CaptureError{CaptureError::Kind::Failed, QString()};
    for (auto step :
         {&V4l2Driver::openNode, &V4l2Driver::negotiateFormat, &V4l2Driver::startStreaming}) {
        if (CameraStatus done = (this->*step)(); !done)
            return done;
    }
    watchDevice();
    return {};
}

CameraStatus V4l2Driver::openNode()
{
    m_fd = ::open(QFile::encodeName(m_device.path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return fail(QStringLiteral("open"), errno);

    v4l2_capability cap{};
    if (xioctl(m_fd, VIDIOC_QUERYCAP, &cap) != 0)
        return fail(QStringLiteral("VIDIOC_QUERYCAP"), errno);
    if (!(deviceCaps(cap) & V4L2_CAP_VIDEO_CAPTURE) || !(deviceCaps(cap) & V4L2_CAP_STREAMING))
        return fail(QStringLiteral("not a streaming capture device"), ENODEV,
                    CaptureError::Kind::Unsupported);

    m_converter = std::make_unique<FrameConverter>(m_fd);
    if (!m_converter->isValid())
        return fail(QStringLiteral("libv4lconvert"), ENOMEM);
    m_previewConverter = std::make_unique<PreviewConverter>();
    return {};
}

CameraStatus V4l2Driver::negotiateFormat()
{
    const QSize wanted = m_requestedSize.isValid() ? m_requestedSize : QSize(640, 480);
    v4l2_format fmt = captureFormat(m_requestedFormat, wanted);
    if (!m_requestedFormat) {
        // Ask the converter which of the device's formats gives RGB at the wanted size
        // most cheaply; it prefers formats it can convert without loss of frame rate.
        v4l2_format dst = captureFormat(V4L2_PIX_FMT_RGB24, wanted);
        if (v4lconvert_try_format(m_converter->handle(), &dst, &fmt) != 0)
            return fail(QStringLiteral("no format convertible to RGB"), errno ? errno : EINVAL,
                        CaptureError::Kind::Unsupported);
        // libv4lconvert may prefer an old compressed format the station does not read;
        // then the first format the device offers that it does read is asked for.
        if (!FrameConverter::canConvert(fmt.fmt.pix.pixelformat)) {
            if (const std::uint32_t readable = firstReadableFormat(m_fd))
                fmt = captureFormat(readable, wanted);
        }
    }
    if (xioctl(m_fd, VIDIOC_S_FMT, &fmt) != 0)
        return fail(QStringLiteral("VIDIOC_S_FMT"), errno,
                    errno == EINVAL ? CaptureError::Kind::Unsupported : CaptureError::Kind::None);
    m_pixelFormat = fmt.fmt.pix.pixelformat;
    m_bytesPerLine = fmt.fmt.pix.bytesperline;
    m_size = QSize(int(fmt.fmt.pix.width), int(fmt.fmt.pix.height));
    if (m_requestedFormat && m_pixelFormat != m_requestedFormat)
        return fail(QStringLiteral("pixel format not offered"), EINVAL,
                    CaptureError::Kind::Unsupported);
    // A camera that only offers formats the station cannot read would stream frames that
    // never show: refused here, where the operator can be told why.
    if (!FrameConverter::canConvert(m_pixelFormat))
        return fail(QStringLiteral("pixel format %1 cannot be read")
                        .arg(QString::fromLatin1(reinterpret_cast<const char*>(&m_pixelFormat), 4)),
                    EINVAL, CaptureError::Kind::Unsupported);
    return {};
}

CameraStatus V4l2Driver::startStreaming()
{
    // Many drivers drop to a slow default frame rate after a format change; ask for a
    // rate fit for a live preview and take whatever the device settles on.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1, 30};
    xioctl(m_fd, VIDIOC_S_PARM, &parm);

    v4l2_requestbuffers req{};
    req.count = BufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(m_fd, VIDIOC_REQBUFS, &req) != 0)
        return fail(QStringLiteral("VIDIOC_REQBUFS"), errno);
    if (req.count < 2)
        return fail(QStringLiteral("too few buffers"), ENOMEM);

    for (unsigned i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(m_fd, VIDIOC_QUERYBUF, &buf) != 0)
            return fail(QStringLiteral("VIDIOC_QUERYBUF"), errno);
        void* start =
            ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, buf.m.offset);
        if (start == MAP_FAILED)
            return fail(QStringLiteral("mmap"), errno);
        m_buffers.push_back({start, buf.length});
        if (xioctl(m_fd, VIDIOC_QBUF, &buf) != 0)
            return fail(QStringLiteral("VIDIOC_QBUF"), errno);
    }

    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(m_fd, VIDIOC_STREAMON, &type) != 0)
        return fail(QStringLiteral("VIDIOC_STREAMON"), errno);
    m_streaming = true;
    return {};
}

void V4l2Driver::watchDevice()
{
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &V4l2Driver::readFrame);
    // A device that is unplugged signals an error condition rather than data.
    m_errorNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_errorNotifier, &QSocketNotifier::activated, this, &V4l2Driver::readFrame);
}

void V4l2Driver::close()
{
    releaseDevice();
}

void V4l2Driver::releaseDevice()
{
    // The stream may end inside a notifier's own signal: the notifiers are switched off
    // at once (before their descriptor closes) and deleted once that signal is over.
    for (QSocketNotifier* notifier : {m_readNotifier, m_errorNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_errorNotifier = nullptr;
    if (m_fd >= 0 && m_streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(m_fd, VIDIOC_STREAMOFF, &type);
    }
    m_streaming = false;
    for (const Buffer& b : m_buffers)
        ::munmap(b.start, b.length);
    const bool hadBuffers = !m_buffers.empty();
    m_buffers.clear();
    if (m_fd >= 0 && hadBuffers) {
        v4l2_requestbuffers req{};
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        xioctl(m_fd, VIDIOC_REQBUFS, &req);
    }
    m_converter.reset();
    m_previewConverter.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_held = -1;
    m_heldBytes = 0;
    m_frame = QImage();
}

void V4l2Driver::endStream(const QString& what, int error)
{
    emit streamEnded(fail(what, error));
}

void V4l2Driver::readFrame()
{
    if (m_fd < 0)
        return;
    // Take every buffer that is ready and keep only the newest: when the UI thread was
    // busy, older frames are stale. The one kept stays out of the queue until a newer
    // one replaces it, so it is never overwritten while it may still be shown or grabbed.
    bool arrived = false;
    for (;;) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (xioctl(m_fd, VIDIOC_DQBUF, &buf) != 0) {
            if (errno == EAGAIN)
                break;
            endStream(QStringLiteral("VIDIOC_DQBUF"), errno);
            return;
        }
        // A frame the device marks as damaged, an empty one, or a JPEG torn in transfer
        // is given straight back: the one before stays the newest, for the preview and
        // for a grab.
        bool usable =
            buf.index < m_buffers.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR) && buf.bytesused > 0;
        if (usable && (m_pixelFormat == V4L2_PIX_FMT_MJPEG || m_pixelFormat == V4L2_PIX_FMT_JPEG))
            usable = FrameConverter::jpegLooksWhole(
                static_cast<const unsigned char*>(m_buffers[buf.index].start),
                std::min<std::size_t>(buf.bytesused, m_buffers[buf.index].length));
        int giveBack = int(buf.index);
        if (usable) {
            giveBack = m_held;
            m_held = int(buf.index);
            m_heldBytes =
                std::min<std::uint32_t>(buf.bytesused, std::uint32_t(m_buffers[buf.index].length));
            arrived = true;
        }
        if (giveBack >= 0) {
            v4l2_buffer back{};
            back.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            back.memory = V4L2_MEMORY_MMAP;
            back.index = std::uint32_t(giveBack);
            if (xioctl(m_fd, VIDIOC_QBUF, &back) != 0) {
                endStream(QStringLiteral("VIDIOC_QBUF"), errno);
                return;
            }
        }
    }
    if (!arrived)
        return;
    ++m_frameCount;
    emit frameArrived();
}

QImage V4l2Driver::currentFrame() const
{
    if (m_held < 0 || !m_converter)
        return QImage();
    if (m_frameOf != m_frameCount) {
        const Buffer& b = m_buffers[std::size_t(m_held)];
        m_frame = m_converter
                      ->toRgb(m_pixelFormat, m_size.width(), m_size.height(), m_bytesPerLine,
                              static_cast<const unsigned char*>(b.start), m_heldBytes)
                      .valueOr(QImage());
        m_frameOf = m_frameCount;
    }
    return m_frame;
}

QImage V4l2Driver::previewFrame(QSize size) const
{
    if (m_held < 0 || !m_previewConverter)
        return QImage();
    if (!PreviewConverter::handles(m_pixelFormat))
        return CaptureDriver::previewFrame(size);
    const Buffer& b = m_buffers[std::size_t(m_held)];
    return m_previewConverter->toPreview(m_pixelFormat, m_size.width(), m_size.height(),
                                         m_bytesPerLine, static_cast<const unsigned char*>(b.start),
                                         m_heldBytes, size);
}

QList<CaptureControl> V4l2Driver::controls() const
{
    QList<CaptureControl> list;
    if (m_fd < 0)
        return list;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (xioctl(m_fd, VIDIOC_QUERYCTRL, &q) == 0) {
        const quint32 id = q.id;
        q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
        if (q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY))
            continue;
        CaptureControl c;
        c.id = id;
        c.name = cString(q.name, sizeof q.name);
        c.minimum = q.minimum;
        c.maximum = q.maximum;
        c.step = q.step > 0 ? q.step : 1;
        c.defaultValue = q.default_value;
        switch (q.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            c.type = CaptureControl::Type::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            c.type = CaptureControl::Type::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            c.type = CaptureControl::Type::Menu;
            for (int i = q.minimum; i <= q.maximum; ++i) {
                v4l2_querymenu m{};
                m.id = id;
                m.index = i;
                if (xioctl(m_fd, VIDIOC_QUERYMENU, &m) != 0)
                    continue; // menus may have holes
                c.menu.append({i, q.type == V4L2_CTRL_TYPE_MENU ? cString(m.name, sizeof m.name)
                                                                : QString::number(m.value)});
            }
            break;
        case V4L2_CTRL_TYPE_BUTTON:
            c.type = CaptureControl::Type::Button;
            break;
        default:
            continue; // 64-bit, string, bitmask and array controls have no widget here
        }
        if (c.type != CaptureControl::Type::Button && !(q.flags & V4L2_CTRL_FLAG_WRITE_ONLY))
            c.value = controlValue(id);
        list.append(c);
    }
    return list;
}

bool V4l2Driver::setControl(quint32 id, int value)
{
    if (m_fd < 0)
        return false;
    v4l2_control c{};
    c.id = id;
    c.value = value;
    return xioctl(m_fd, VIDIOC_S_CTRL, &c) == 0;
}

int V4l2Driver::controlValue(quint32 id) const
{
    if (m_fd < 0)
        return 0;
    v4l2_control c{};
    c.id = id;
    return xioctl(m_fd, VIDIOC_G_CTRL, &c) == 0 ? c.value : 0;
}

} // namespace qc
