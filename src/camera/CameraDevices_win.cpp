// The webcams of a Windows machine: Media Foundation's video capture sources.
#include "camera/CameraDevices.h"

#include "camera/mf/MfDriver_win.h"
#include "camera/mf/MfError.h"
#include "camera/mf/MfFormats.h"
#include "core/Logging.h"

#include <mfapi.h>

namespace qc {

namespace {

QString attributeText(IMFActivate* device, REFGUID key)
{
    wchar_t* text = nullptr;
    UINT32 length = 0;
    if (FAILED(device->GetAllocatedString(key, &text, &length)) || !text)
        return QString();
    const QString result = QString::fromWCharArray(text, int(length)).trimmed();
    CoTaskMemFree(text);
    return result;
}

} // namespace

QList<CameraDevice> listCameraDevices(const QString&, int limit)
{
    MfSession session;
    ComPtr<IMFAttributes> attributes;
    HRESULT hr = session.status();
    if (SUCCEEDED(hr))
        hr = MFCreateAttributes(attributes.put(), 1);
    if (SUCCEEDED(hr))
        hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                                 MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    IMFActivate** devices = nullptr;
    UINT32 count = 0;
    if (SUCCEEDED(hr))
        hr = MFEnumDeviceSources(attributes.get(), &devices, &count);
    // No way to list cameras is a machine without cameras, to the operator: the list says
    // no device is available. The log keeps the reason.
    if (FAILED(hr)) {
        qCWarning(
            lcCamera, "cannot list the cameras: %s",
            qUtf8Printable(mfCaptureError(std::uint32_t(hr), QStringLiteral("MFEnumDeviceSources"),
                                          systemTextOf(std::uint32_t(hr)))
                               .reason));
        return {};
    }
    QList<CameraDevice> found;
    for (UINT32 i = 0; i < count; ++i) {
        found.append(
            {attributeText(devices[i], MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK),
             attributeText(devices[i], MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME)});
        devices[i]->Release();
    }
    CoTaskMemFree(devices);
    return orderMfCameras(found, limit);
}

std::unique_ptr<CaptureDriver> makeCameraDriver(const CameraDevice& device)
{
    return std::make_unique<MfDriver>(device);
}

} // namespace qc
