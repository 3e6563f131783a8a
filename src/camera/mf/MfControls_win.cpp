// The settings of a Media Foundation camera: its own property page where it has one,
// else the ranges of IAMVideoProcAmp (picture) and IAMCameraControl (optics), which the
// station's source dialog shows.
#include "camera/mf/MfDriver_win.h"

#include <ocidl.h>
#include <olectl.h>
#include <strmif.h>

#include <string>

namespace qc {

namespace {

// Control ids: the interface in the high bits, the property in the low ones, and a bit
// for the "automatic" switch of a property that has one.
constexpr quint32 ProcAmp = 0x100;
constexpr quint32 Camera = 0x200;
constexpr quint32 Automatic = 0x1000;
constexpr long AutoFlag = 0x1;   // VideoProcAmp_Flags_Auto, CameraControl_Flags_Auto
constexpr long ManualFlag = 0x2; // VideoProcAmp_Flags_Manual, CameraControl_Flags_Manual

struct Property
{
    quint32 group;
    long property;
    const char* name;
};

const Property Properties[] = {
    {ProcAmp, VideoProcAmp_Brightness, "Brilho"},
    {ProcAmp, VideoProcAmp_Contrast, "Contraste"},
    {ProcAmp, VideoProcAmp_Hue, "Matiz"},
    {ProcAmp, VideoProcAmp_Saturation, "Saturação"},
    {ProcAmp, VideoProcAmp_Sharpness, "Nitidez"},
    {ProcAmp, VideoProcAmp_Gamma, "Gama"},
    {ProcAmp, VideoProcAmp_WhiteBalance, "Equilíbrio de branco"},
    {ProcAmp, VideoProcAmp_BacklightCompensation, "Compensação de contraluz"},
    {ProcAmp, VideoProcAmp_Gain, "Ganho"},
    {Camera, CameraControl_Exposure, "Exposição"},
    {Camera, CameraControl_Focus, "Foco"},
    {Camera, CameraControl_Zoom, "Zoom"},
    {Camera, CameraControl_Pan, "Panorâmica"},
    {Camera, CameraControl_Tilt, "Inclinação"},
};

// Both interfaces have the same calls; one small view over either.
struct Settings
{
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> camera;

    HRESULT range(quint32 group, long p, long* min, long* max, long* step, long* def, long* caps)
    {
        if (group == ProcAmp)
            return procAmp ? procAmp->GetRange(p, min, max, step, def, caps) : E_NOINTERFACE;
        return camera ? camera->GetRange(p, min, max, step, def, caps) : E_NOINTERFACE;
    }
    HRESULT get(quint32 group, long p, long* value, long* flags)
    {
        if (group == ProcAmp)
            return procAmp ? procAmp->Get(p, value, flags) : E_NOINTERFACE;
        return camera ? camera->Get(p, value, flags) : E_NOINTERFACE;
    }
    HRESULT set(quint32 group, long p, long value, long flags)
    {
        if (group == ProcAmp)
            return procAmp ? procAmp->Set(p, value, flags) : E_NOINTERFACE;
        return camera ? camera->Set(p, value, flags) : E_NOINTERFACE;
    }
};

Settings settingsOf(const ComPtr<IMFMediaSource>& source)
{
    return {source.as<IAMVideoProcAmp>(IID_IAMVideoProcAmp),
            source.as<IAMCameraControl>(IID_IAMCameraControl)};
}

} // namespace

QList<CaptureControl> MfDriver::controls() const
{
    QList<CaptureControl> list;
    Settings settings = settingsOf(m_source);
    for (const Property& p : Properties) {
        long min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
        if (FAILED(settings.range(p.group, p.property, &min, &max, &step, &def, &caps)) ||
            max <= min)
            continue;
        settings.get(p.group, p.property, &value, &flags);
        CaptureControl c;
        c.id = p.group | quint32(p.property);
        c.name = QString::fromUtf8(p.name);
        c.minimum = int(min);
        c.maximum = int(max);
        c.step = step > 0 ? int(step) : 1;
        c.defaultValue = int(def);
        c.value = int(value);
        list.append(c);
        if (caps & AutoFlag) {
            CaptureControl automatic;
            automatic.id = c.id | Automatic;
            automatic.type = CaptureControl::Type::Boolean;
            automatic.name = c.name + QStringLiteral(" automático");
            automatic.maximum = 1;
            automatic.value = (flags & AutoFlag) ? 1 : 0;
            list.append(automatic);
        }
    }
    return list;
}

bool MfDriver::setControl(quint32 id, int value)
{
    Settings settings = settingsOf(m_source);
    const quint32 group = id & (ProcAmp | Camera);
    const long property = long(id & 0xFF);
    if (id & Automatic) {
        // The switch keeps the property's value and only hands it to the camera or back.
        long current = 0, flags = 0;
        settings.get(group, property, &current, &flags);
        return SUCCEEDED(settings.set(group, property, current, value ? AutoFlag : ManualFlag));
    }
    return SUCCEEDED(settings.set(group, property, long(value), ManualFlag));
}

int MfDriver::controlValue(quint32 id) const
{
    Settings settings = settingsOf(m_source);
    long value = 0, flags = 0;
    if (FAILED(settings.get(id & (ProcAmp | Camera), long(id & 0xFF), &value, &flags)))
        return 0;
    if (id & Automatic)
        return (flags & AutoFlag) ? 1 : 0;
    return int(value);
}

bool MfDriver::showPropertyPage(quintptr ownerWindow)
{
    ComPtr<ISpecifyPropertyPages> pages =
        m_source.as<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
    if (!pages)
        return false;
    CAUUID ids{};
    if (FAILED(pages->GetPages(&ids)) || ids.cElems == 0) {
        CoTaskMemFree(ids.pElems);
        return false;
    }
    IUnknown* object = m_source.get();
    const std::wstring caption = name().toStdWString();
    const HRESULT hr =
        OleCreatePropertyFrame(reinterpret_cast<HWND>(ownerWindow), 0, 0, caption.c_str(), 1,
                               &object, ids.cElems, ids.pElems, 0, 0, nullptr);
    CoTaskMemFree(ids.pElems);
    return SUCCEEDED(hr);
}

} // namespace qc
