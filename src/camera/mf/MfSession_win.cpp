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

} // namespace qc
