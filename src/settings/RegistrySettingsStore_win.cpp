#include "settings/RegistrySettingsStore.h"

#include "core/Error.h"
#include "core/Logging.h"
#include "core/WindowsError.h"

#include <windows.h>

#include <optional>

namespace qc {

namespace {

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// An open registry key, closed when it goes out of scope.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// The REG_SZ value's text; nothing when the value is missing or of another type (told
// through type), or cannot be read.
std::optional<QString> readString(HKEY key, const QString& name, DWORD& type, LSTATUS& status)
{
    DWORD size = 0;
    status = RegQueryValueExW(key, wide(name), nullptr, &type, nullptr, &size);
    // The value can grow between the two calls (another program writing it): ask again.
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < 4; ++attempt) {
        if (type != REG_SZ)
            return std::nullopt;
        QByteArray bytes(qsizetype(size) + 2, '\0');
        DWORD got = size;
        status = RegQueryValueExW(key, wide(name), nullptr, &type,
                                  reinterpret_cast<BYTE*>(bytes.data()), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            status = ERROR_SUCCESS;
            continue;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ)
            return std::nullopt;
        qsizetype units = qsizetype(got / sizeof(wchar_t));
        const auto* text = reinterpret_cast<const char16_t*>(bytes.constData());
        // The terminator is stored with the value by every writer that follows the rules;
        // one that left it out still reads whole. Only that one NUL is no part of it.
        if (units > 0 && text[units - 1] == u'\0')
            --units;
        return QString::fromUtf16(text, units);
    }
    return std::nullopt;
}

} // namespace

QString RegistrySettingsStore::value(const QString& key) const
{
    Key opened;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, wide(m_subKey), 0, KEY_QUERY_VALUE, opened.out());
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND)
            qCWarning(lcSettings, "cannot open %s: %s", qUtf8Printable(keyName()),
                      qUtf8Printable(windowsReason(status)));
        return QString();
    }
    DWORD type = REG_NONE;
    const std::optional<QString> text = readString(opened.get(), key, type, status);
    if (text)
        return *text;
    if (status == ERROR_SUCCESS && type != REG_SZ)
        qCWarning(lcSettings, "%s\\%s is of registry type %lu, not REG_SZ: read as empty",
                  qUtf8Printable(keyName()), qUtf8Printable(key), static_cast<unsigned long>(type));
    else if (status != ERROR_FILE_NOT_FOUND)
        qCWarning(lcSettings, "cannot read %s\\%s: %s", qUtf8Printable(keyName()),
                  qUtf8Printable(key), qUtf8Printable(windowsReason(status)));
    return QString();
}

void RegistrySettingsStore::setValue(const QString& key, const QString& value)
{
    const auto fail = [&](const QString& reason) {
        qCWarning(lcSettings, "cannot store %s in %s: %s", qUtf8Printable(key),
                  qUtf8Printable(keyName()), qUtf8Printable(reason));
        throw Error(keyName() + QStringLiteral(": ") + reason);
    };
    // The value and its terminator, in bytes; the registry's own limit is far above any
    // setting, but the count must fit its DWORD.
    const qint64 bytes = (qint64(value.size()) + 1) * qint64(sizeof(wchar_t));
    if (bytes > qint64(MAXDWORD))
        fail(QStringLiteral("o valor de \"%1\" é longo demais.").arg(key));
    Key created;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, wide(m_subKey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, created.out(), nullptr);
    if (status != ERROR_SUCCESS)
        fail(windowsReason(status));
    status = RegSetValueExW(created.get(), wide(key), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.utf16()), DWORD(bytes));
    if (status != ERROR_SUCCESS)
        fail(windowsReason(status));
    DWORD type = REG_NONE;
    if (readString(created.get(), key, type, status) != value)
        fail(QStringLiteral("o registro não guardou o valor de \"%1\".").arg(key));
}

} // namespace qc
