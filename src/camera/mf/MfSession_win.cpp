#include "camera/mf/MfSession_win.h"

#include <mfapi.h>

namespace qc {

MfSession::MfSession(DWORD apartment)
    : m_com(CoInitializeEx(nullptr, apartment)), m_started(MFStartup(MF_VERSION, MFSTARTUP_LITE))
{}

MfSession::~MfSession()
{
    if (SUCCEEDED(m_started))
        MFShutdown();
    // RPC_E_CHANGED_MODE: the thread had COM already, in the other apartment; not ours to end.
    if (SUCCEEDED(m_com))
        CoUninitialize();
}

HRESULT visitVideoSources(const std::function<void(IMFActivate*)>& visit)
{
    IMFAttributes* attributes = nullptr;
    HRESULT hr = MFCreateAttributes(&attributes, 1);
    if (SUCCEEDED(hr))
        hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                                 MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    IMFActivate** sources = nullptr;
    UINT32 count = 0;
    if (SUCCEEDED(hr))
        hr = MFEnumDeviceSources(attributes, &sources, &count);
    if (attributes)
        attributes->Release();
    if (FAILED(hr))
        return hr;
    for (UINT32 i = 0; i < count; ++i) {
        visit(sources[i]);
        sources[i]->Release();
    }
    CoTaskMemFree(sources);
    return S_OK;
}

QString sourceText(IMFActivate* source, REFGUID key)
{
    wchar_t* text = nullptr;
    UINT32 length = 0;
    if (FAILED(source->GetAllocatedString(key, &text, &length)) || !text)
        return QString();
    QString result = QString::fromWCharArray(text, int(length)).trimmed();
    CoTaskMemFree(text);
    return result;
}

} // namespace qc
