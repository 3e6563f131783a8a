#include "camera/mf/MfError.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace qc {

namespace {

constexpr std::uint32_t fromWin32(std::uint32_t code)
{
    return 0x80070000u | code;
}

// The codes Windows gives for each failure the station explains; any other is a
// failure without a kind of its own.
CaptureError::Kind kindOf(std::uint32_t hr)
{
    switch (hr) {
    case 0xC00D3704u:     // MF_E_HW_MFT_FAILED_START_STREAMING: another program streams
    case 0xC00D3EA3u:     // MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED
    case fromWin32(32):   // ERROR_SHARING_VIOLATION
    case fromWin32(170):  // ERROR_BUSY
    case fromWin32(2404): // ERROR_DEVICE_IN_USE
        return CaptureError::Kind::Busy;
    case 0xC00D3EA2u:     // MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED
    case 0xC00D3E85u:     // MF_E_SHUTDOWN: the source went away under the reader
    case fromWin32(2):    // ERROR_FILE_NOT_FOUND: the device's link is gone
    case fromWin32(3):    // ERROR_PATH_NOT_FOUND
    case fromWin32(31):   // ERROR_GEN_FAILURE: what USB reports for a pulled cable
    case fromWin32(55):   // ERROR_DEV_NOT_EXIST
    case fromWin32(1167): // ERROR_DEVICE_NOT_CONNECTED
    case fromWin32(1617): // ERROR_DEVICE_REMOVED
        return CaptureError::Kind::Gone;
    case 0x80070005u: // E_ACCESSDENIED: the camera privacy setting
        return CaptureError::Kind::Privacy;
    case 0xC00D36B4u: // MF_E_INVALIDMEDIATYPE
    case 0xC00D36B9u: // MF_E_NO_MORE_TYPES
    case 0xC00D36BDu: // MF_E_INVALIDTYPE
    case 0xC00D3E98u: // MF_E_UNSUPPORTED_FORMAT
    case 0xC00D5212u: // MF_E_TOPO_CODEC_NOT_FOUND
        return CaptureError::Kind::Unsupported;
    default:
        return CaptureError::Kind::Failed;
    }
}

} // namespace

CaptureError mfCaptureError(std::uint32_t hresult, const QString& what, const QString& systemText)
{
    const QString code = QStringLiteral("0x") +
                         QString::number(hresult, 16).toUpper().rightJustified(8, QLatin1Char('0'));
    const QString text = systemText.trimmed();
    QString reason = what + QStringLiteral(": ");
    reason += text.isEmpty() ? code : text + QStringLiteral(" (") + code + QLatin1Char(')');
    return {kindOf(hresult), reason};
}

QString systemTextOf(std::uint32_t hresult)
{
#ifdef Q_OS_WIN
    wchar_t* text = nullptr;
    // Media Foundation's own codes have their texts in mferror.dll, not in the system's
    // table.
    HMODULE mfErrors = (hresult & 0xFFFF0000u) == 0xC00D0000u
                           ? LoadLibraryExW(L"mferror.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE)
                           : nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS |
                        (mfErrors ? FORMAT_MESSAGE_FROM_HMODULE : 0);
    const DWORD length = FormatMessageW(flags, mfErrors, DWORD(hresult), 0,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    if (text)
        LocalFree(text);
    if (mfErrors)
        FreeLibrary(mfErrors);
    return result;
#else
    Q_UNUSED(hresult);
    return QString();
#endif
}

} // namespace qc
