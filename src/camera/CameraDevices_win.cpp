// The webcams of a Windows machine: Media Foundation's video capture sources.
#include "camera/CameraDevices.h"

#include "camera/mf/MfDriver_win.h"
#include "camera/mf/MfError.h"
#include "camera/mf/MfFormats.h"
#include "core/Logging.h"

namespace qc {

QList<CameraDevice> listCameraDevices(const QString&, int limit)
{
    MfSession session;
    QList<CameraDevice> found;
    HRESULT hr = session.status();
    if (SUCCEEDED(hr))
        hr = visitVideoSources([&](IMFActivate* source) {
            found.append(
                {sourceText(source, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK),
                 sourceText(source, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME)});
        });
    // No way to list cameras is a machine without cameras, to the operator: the list says
    // no device is available. The log keeps the reason.
    if (FAILED(hr)) {
        const std::uint32_t code = std::uint32_t(hr);
        qCWarning(lcCamera, "cannot list the cameras: %s",
                  qUtf8Printable(mfCaptureError(code, QStringLiteral("MFEnumDeviceSources"),
                                                systemTextOf(code))
                                     .reason));
        return {};
    }
    return orderMfCameras(found, limit);
}

std::unique_ptr<CaptureDriver> makeCameraDriver(const CameraDevice& device)
{
    return std::make_unique<MfDriver>(device);
}

} // namespace qc
