#include "cli/PhotoFolder.h"

#include "core/WindowsError.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

#include <functional>

namespace qc {

namespace {

// Names come from FileNameCodec, which encodes every separator, ':' (a stream of another
// file) and the device names; one that still holds them must not reach the file system.
bool safe(const QByteArray& name)
{
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') && !name.contains(':');
}

class Handle
{
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { release(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    bool release()
    {
        const bool ok = !valid() || CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_h;
};

Error wrongSize(const QByteArray& name, qint64 size, qint64 expected)
{
    return Error(QStringLiteral("O arquivo \"%1\" tem %2 bytes em vez de %3.")
                     .arg(QString::fromUtf8(name))
                     .arg(size)
                     .arg(expected));
}

// Writes every byte, puts them on the disk and checks the size the file ended with; a
// photo handed on as done must survive a power cut, so it is on the disk before it has
// its name. failed(error) is what is thrown.
void writeWhole(Handle& file, const QByteArray& name, const QByteArray& bytes,
                const std::function<Error(int)>& failed)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(file.get(), data, DWORD(qMin<qsizetype>(left, 1 << 30)), &written, nullptr))
            throw failed(int(GetLastError()));
        if (written == 0)
            throw failed(ERROR_DISK_FULL);
        data += written;
        left -= written;
    }
    if (!FlushFileBuffers(file.get()))
        throw failed(int(GetLastError()));
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size))
        throw failed(int(GetLastError()));
    if (qint64(size.QuadPart) != bytes.size())
        throw wrongSize(name, qint64(size.QuadPart), bytes.size());
    if (!file.release())
        throw failed(int(GetLastError()));
}

} // namespace

PhotoFolder::PhotoFolder(const QString& path, bool create) : m_path(path)
{
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    if (create && !CreateDirectoryW(native.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        throw Error(QStringLiteral("Não foi possível criar a pasta \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), windowsReason(int(GetLastError()))));
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw Error(
            QStringLiteral("Não foi possível abrir a pasta \"%1\": %2")
                .arg(QDir::toNativeSeparators(path),
                     windowsReason(attributes == INVALID_FILE_ATTRIBUTES ? int(GetLastError())
                                                                         : int(ERROR_DIRECTORY))));
}

PhotoFolder::~PhotoFolder() = default;

Error PhotoFolder::failure(const QString& what, const QByteArray& name, int error) const
{
    return Error(QStringLiteral("%1 \"%2\": %3")
                     .arg(what,
                          QDir::toNativeSeparators(QDir(m_path).filePath(QString::fromUtf8(name))),
                          windowsReason(error)));
}

static std::wstring entry(const QString& folder, const QByteArray& name)
{
    return QDir::toNativeSeparators(QDir(folder).filePath(QString::fromUtf8(name))).toStdWString();
}

bool PhotoFolder::exists(const QByteArray& name) const
{
    return safe(name) && GetFileAttributesW(entry(m_path, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PhotoFolder::Written PhotoFolder::write(const QByteArray& name, bool replace,
                                        const QByteArray& bytes)
{
    const QString writeError = QStringLiteral("Não foi possível gravar o arquivo");
    if (!safe(name))
        throw failure(writeError, name, ERROR_INVALID_NAME);
    const QByteArray temp = ".quvelocap-" +
                            QByteArray::number(qint64(QCoreApplication::applicationPid())) + '-' +
                            QByteArray::number(++m_serial) + ".tmp";
    const std::wstring tempPath = entry(m_path, temp);
    Handle file(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.valid())
        throw failure(writeError, temp, int(GetLastError()));
    bool placed = false;
    struct Cleanup
    {
        const std::wstring& path;
        const bool& placed;
        ~Cleanup()
        {
            if (!placed)
                DeleteFileW(path.c_str());
        }
    } cleanup{tempPath, placed};

    writeWhole(file, name, bytes, [&](int error) { return failure(writeError, name, error); });
    SetFileAttributesW(tempPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken, at that
    // very moment, so a file that appeared meanwhile wins.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(tempPath.c_str(), entry(m_path, name).c_str(), flags)) {
        const DWORD error = GetLastError();
        if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
            return Written::Kept;
        throw failure(writeError, name, int(error));
    }
    placed = true;
    return Written::Written;
}

QByteArray PhotoFolder::read(const QByteArray& name, qint64 maxBytes) const
{
    const QString readError = QStringLiteral("Não foi possível ler o arquivo");
    if (!safe(name))
        throw failure(readError, name, ERROR_INVALID_NAME);
    Handle file(CreateFileW(entry(m_path, name).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw failure(readError, name, int(GetLastError()));
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw failure(readError, name, ERROR_INVALID_PARAMETER);
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size))
        throw failure(readError, name, int(GetLastError()));
    if (size.QuadPart > maxBytes)
        throw Error(QStringLiteral("O arquivo \"%1\" tem %2 bytes, mais que os %3 de uma foto.")
                        .arg(QString::fromUtf8(name))
                        .arg(qint64(size.QuadPart))
                        .arg(maxBytes));
    QByteArray bytes(qsizetype(size.QuadPart), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        if (!ReadFile(file.get(), bytes.data() + got, DWORD(bytes.size() - got), &n, nullptr))
            throw failure(readError, name, int(GetLastError()));
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got); // shrunk while being read: the decoder judges what is left
    return bytes;
}

void PhotoFolder::forEachFile(const std::function<void(const QByteArray& name)>& visit) const
{
    const std::wstring pattern = entry(m_path, "*");
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return;
        throw failure(QStringLiteral("Não foi possível ler a pasta"), ".", int(GetLastError()));
    }
    struct Closer
    {
        HANDLE search;
        ~Closer() { FindClose(search); }
    } closer{search};
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
            continue;
        visit(QString::fromWCharArray(found.cFileName).toUtf8());
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        throw failure(QStringLiteral("Não foi possível ler a pasta"), ".", int(GetLastError()));
}

} // namespace qc
