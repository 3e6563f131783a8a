#include "camera/mf/MfDriver_win.h"

#include "camera/mf/MfError.h"
#include "camera/mf/MfFormats.h"

#include <mfapi.h>
#include <mferror.h>

#include <linux/videodev2.h>

#include <QStringList>

#include <chrono>

namespace qc {

namespace {

constexpr DWORD VideoStream = DWORD(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
// Reads that may pass without a frame while a camera starts (stream ticks, format
// changes) before open() gives up on it, and how long open() waits for the first frame.
constexpr int StartReads = 100;
constexpr std::chrono::seconds FirstFrameWait{10};

// The offer a native media type makes; fourcc 0 for a subtype that is not a
// four-character code (the RGB formats) or that the type does not say.
MfOffer offerOf(IMFMediaType* type)
{
    MfOffer offer;
    GUID subtype{};
    if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) {
        GUID base = MFVideoFormat_Base;
        base.Data1 = subtype.Data1;
        if (IsEqualGUID(base, subtype) && subtype.Data1 > 0xFF)
            offer.fourcc = subtype.Data1;
    }
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    if (SUCCEEDED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)))
        offer.size = QSize(int(width), int(height));
    if (SUCCEEDED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator)) &&
        denominator)
        offer.framesPerSecond = double(numerator) / denominator;
    return offer;
}

QString describe(const MfOffer& offer)
{
    const char code[5] = {char(offer.fourcc), char(offer.fourcc >> 8), char(offer.fourcc >> 16),
                          char(offer.fourcc >> 24), 0};
    return QStringLiteral("%1 %2x%3")
        .arg(offer.fourcc ? QString::fromLatin1(code) : QStringLiteral("RGB"))
        .arg(offer.size.width())
        .arg(offer.size.height());
}

} // namespace

MfDriver::MfDriver(CameraDevice device, QObject* parent)
    : CaptureDriver(parent), m_device(std::move(device))
{}

MfDriver::~MfDriver()
{
    release();
}

CaptureError MfDriver::fail(HRESULT hr, const QString& what)
{
    release();
    return mfCaptureError(std::uint32_t(hr), what, systemTextOf(std::uint32_t(hr)));
}

CameraStatus MfDriver::open()
{
    // As the device itself: one window at a time.
    if (m_open)
        return CaptureError{CaptureError::Kind::Failed, QString()};
    m_session = std::make_unique<MfSession>();
    if (FAILED(m_session->status()))
        return fail(m_session->status(), QStringLiteral("iniciar o Media Foundation"));
    for (auto step : {&MfDriver::createReader, &MfDriver::chooseFormat}) {
        if (CameraStatus done = (this->*step)(); !done)
            return done;
    }
    // The camera is open once its first frame has come: one that another program holds,
    // or that the privacy setting keeps from desktop programs, is refused only when it is
    // asked for frames, and the operator is to be told why at once. The wait is bounded:
    // a camera that sends nothing must not hold the window.
    m_stopping = false;
    std::promise<HRESULT> started;
    std::future<HRESULT> first = started.get_future();
    m_thread = std::thread(&MfDriver::readFrames, this, std::move(started));
    if (first.wait_for(FirstFrameWait) != std::future_status::ready) {
        release();
        return CaptureError{CaptureError::Kind::Failed,
                            QStringLiteral("receber imagens da câmera: nenhuma imagem em %1 s")
                                .arg(FirstFrameWait.count())};
    }
    if (const HRESULT hr = first.get(); FAILED(hr))
        return fail(hr, QStringLiteral("receber imagens da câmera"));
    m_open = true;
    return {};
}

CameraStatus MfDriver::createReader()
{
    // The source is activated from Windows' current list, found there by its link: a
    // camera no longer in it is one that was unplugged.
    ComPtr<IMFActivate> activate;
    HRESULT hr = visitVideoSources([&](IMFActivate* source) {
        if (!activate &&
            sourceText(source, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK) ==
                m_device.id) {
            source->AddRef();
            *activate.put() = source;
        }
    });
    if (SUCCEEDED(hr) && !activate)
        hr = MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
    if (SUCCEEDED(hr))
        hr = activate->ActivateObject(IID_IMFMediaSource, reinterpret_cast<void**>(m_source.put()));
    if (FAILED(hr))
        return fail(hr, QStringLiteral("abrir a câmera"));

    // The camera's own formats only: Media Foundation's converters would hide from the
    // choice which format the camera sends.
    ComPtr<IMFAttributes> options;
    hr = MFCreateAttributes(options.put(), 1);
    if (SUCCEEDED(hr))
        hr = options->SetUINT32(MF_READWRITE_DISABLE_CONVERTERS, TRUE);
    if (SUCCEEDED(hr))
        hr = MFCreateSourceReaderFromMediaSource(m_source.get(), options.get(), m_reader.put());
    if (SUCCEEDED(hr))
        hr = m_reader->SetStreamSelection(DWORD(MF_SOURCE_READER_ALL_STREAMS), FALSE);
    if (SUCCEEDED(hr))
        hr = m_reader->SetStreamSelection(VideoStream, TRUE);
    return FAILED(hr) ? CameraStatus(fail(hr, QStringLiteral("ler a câmera"))) : CameraStatus();
}

CameraStatus MfDriver::chooseFormat()
{
    QList<MfOffer> offers;
    std::vector<ComPtr<IMFMediaType>> types;
    for (DWORD i = 0;; ++i) {
        ComPtr<IMFMediaType> type;
        const HRESULT hr = m_reader->GetNativeMediaType(VideoStream, i, type.put());
        if (hr == MF_E_NO_MORE_TYPES)
            break;
        if (FAILED(hr))
            return fail(hr, QStringLiteral("ler os formatos da câmera"));
        offers.append(offerOf(type.get()));
        types.push_back(std::move(type));
    }
    const int chosen = chooseMfOffer(offers);
    if (chosen < 0) {
        QStringList offered;
        for (const MfOffer& offer : offers)
            offered << describe(offer);
        release();
        return CaptureError{CaptureError::Kind::Unsupported,
                            QStringLiteral("formatos oferecidos: ") +
                                (offered.isEmpty() ? QStringLiteral("nenhum")
                                                   : offered.join(QStringLiteral(", ")))};
    }
    IMFMediaType* type = types[std::size_t(chosen)].get();
    const HRESULT hr = m_reader->SetCurrentMediaType(VideoStream, nullptr, type);
    if (FAILED(hr))
        return fail(hr, QStringLiteral("escolher o formato ") + describe(offers[chosen]));
    m_frames.setFormat(offers[chosen].fourcc, offers[chosen].size);
    // A negative default stride means lines bottom-up, which no YUV format has.
    UINT32 stride = 0;
    m_stride = SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) ? INT32(stride) : 0;
    return {};
}

// Reads until the driver stops or the stream ends; the first frame (or why none came)
// is told through started, every later one by a queued call.
void MfDriver::readFrames(std::promise<HRESULT> started)
{
    MfSession thread(COINIT_MULTITHREADED);
    bool waiting = true; // for the first frame
    for (int reads = 0; !m_stopping; ++reads) {
        DWORD stream = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        HRESULT hr = m_reader->ReadSample(VideoStream, 0, &stream, &flags, &time, sample.put());
        if (m_stopping)
            break;
        if (SUCCEEDED(hr) && (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM)))
            hr = MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED;
        if (SUCCEEDED(hr) && waiting && reads >= StartReads)
            hr = MF_E_INVALIDMEDIATYPE; // samples come, none of them readable
        if (FAILED(hr)) {
            if (waiting) {
                started.set_value(hr);
                return;
            }
            const CaptureError error =
                mfCaptureError(std::uint32_t(hr), QStringLiteral("receber imagens da câmera"),
                               systemTextOf(std::uint32_t(hr)));
            QMetaObject::invokeMethod(
                this, [this, error] { endStream(error); }, Qt::QueuedConnection);
            return;
        }
        if (!sample || !keep(sample.get()))
            continue;
        ++m_delivered;
        if (waiting) {
            waiting = false;
            started.set_value(S_OK);
        } else {
            QMetaObject::invokeMethod(
                this, [this] { emit frameArrived(); }, Qt::QueuedConnection);
        }
    }
    if (waiting)
        started.set_value(MF_E_SHUTDOWN);
}

bool MfDriver::keep(IMFSample* sample)
{
    ComPtr<IMFMediaBuffer> buffer;
    DWORD count = 0;
    HRESULT hr = sample->GetBufferCount(&count);
    if (SUCCEEDED(hr))
        hr = count == 1 ? sample->GetBufferByIndex(0, buffer.put())
                        : sample->ConvertToContiguousBuffer(buffer.put());
    if (FAILED(hr))
        return false;
    const std::uint32_t format = m_frames.pixelFormat();
    if (format != V4L2_PIX_FMT_MJPEG) {
        // A raw frame in a buffer with lines of its own length.
        if (ComPtr<IMF2DBuffer> lines = buffer.as<IMF2DBuffer>(IID_IMF2DBuffer)) {
            BYTE* first = nullptr;
            LONG pitch = 0;
            if (SUCCEEDED(lines->Lock2D(&first, &pitch))) {
                const int height = m_frames.frameSize().height();
                const std::size_t rows =
                    format == V4L2_PIX_FMT_NV12 ? std::size_t(height) * 3 / 2 : std::size_t(height);
                const bool kept =
                    pitch > 0 && m_frames.put(first, std::size_t(pitch) * rows, int(pitch));
                lines->Unlock2D();
                return kept;
            }
        }
    }
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length)))
        return false;
    const bool kept = m_frames.put(data, length, format == V4L2_PIX_FMT_MJPEG ? 0 : m_stride);
    buffer->Unlock();
    return kept;
}

void MfDriver::endStream(const CaptureError& error)
{
    if (!m_open)
        return;
    release();
    emit streamEnded(error);
}

void MfDriver::deviceRemoved()
{
    constexpr std::uint32_t DeviceRemoved = 0x80070651u; // HRESULT_FROM_WIN32(ERROR_DEVICE_REMOVED)
    endStream(mfCaptureError(DeviceRemoved, QStringLiteral("câmera"), systemTextOf(DeviceRemoved)));
}

void MfDriver::close()
{
    release();
}

void MfDriver::release()
{
    m_stopping = true;
    // Shutting the source down ends a ReadSample that waits for the next frame.
    if (m_source)
        m_source->Shutdown();
    if (m_thread.joinable())
        m_thread.join();
    m_reader.reset();
    m_source.reset();
    m_session.reset();
    m_open = false;
}

QImage MfDriver::currentFrame() const
{
    return m_open ? m_frames.whole() : QImage();
}

QImage MfDriver::previewFrame(QSize size) const
{
    return m_open ? m_frames.preview(size) : QImage();
}

} // namespace qc
