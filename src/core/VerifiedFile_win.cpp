#include "core/VerifiedFile.h"

#include "core/Error.h"
#include "core/WindowsError.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

namespace qc::VerifiedFile {

namespace {

Error failure(const QString& path, const QString& reason)
{
    return Error(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2")
                     .arg(QDir::toNativeSeparators(path), reason));
}

std::wstring native(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
}

// CREATE_NEW fails when the name exists, so two writers never share a temporary file.
HANDLE createUnique(const QString& folder, const QString& prefix, const QString& suffix,
                    QString& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString random =
            QString::number(QRandomGenerator::system()->generate64(), 36).right(8);
        name = QDir(folder).filePath(prefix + random + suffix);
        const HANDLE file = CreateFileW(native(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

void writeAll(HANDLE file, QByteArrayView bytes, const QString& path)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr))
            throw failure(path, windowsReason(GetLastError()));
        if (written == 0)
            throw failure(path, windowsReason(ERROR_DISK_FULL));
        data += written;
        left -= written;
    }
    if (!FlushFileBuffers(file))
        throw failure(path, windowsReason(GetLastError()));
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        throw failure(path, windowsReason(GetLastError()));
    if (size.QuadPart != bytes.size())
        throw failure(path, QStringLiteral("%1 de %2 bytes gravados")
                                .arg(qint64(size.QuadPart))
                                .arg(qint64(bytes.size())));
}

} // namespace

// The user's own folders (local application data) are readable by that user only through
// their inherited ACL, so Access::Private needs nothing more here than Access::Shared.
void write(const QString& path, QByteArrayView bytes, Access)
{
    if (path.isEmpty())
        throw Error(QStringLiteral("Nenhum nome de arquivo foi dado para gravar."));
    const QFileInfo target(path);
    QString temporary;
    const HANDLE file =
        createUnique(target.absolutePath(), QLatin1Char('.') + target.fileName() + QLatin1Char('.'),
                     QString(), temporary);
    if (file == INVALID_HANDLE_VALUE)
        throw failure(path, windowsReason(GetLastError()));
    try {
        writeAll(file, bytes, path);
    } catch (...) {
        CloseHandle(file);
        DeleteFileW(native(temporary).c_str());
        throw;
    }
    CloseHandle(file);
    if (!MoveFileExW(native(temporary).c_str(), native(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(native(temporary).c_str());
        throw failure(path, windowsReason(error));
    }
}

} // namespace qc::VerifiedFile
