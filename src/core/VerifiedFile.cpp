#include "core/VerifiedFile.h"

#include "core/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#include <QTemporaryFile>
#endif

namespace qc::VerifiedFile {

namespace {

Error failure(const QString& path, const QString& reason)
{
    return Error(QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2")
                     .arg(QDir::toNativeSeparators(path), reason));
}

#ifdef Q_OS_UNIX
QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// mkstemps' six X and the suffix; the name is the caller's prefix and suffix around it.
int createUnique(const QString& folder, const QString& prefix, const QString& suffix,
                 QByteArray& name)
{
    name = QFile::encodeName(QDir(folder).filePath(prefix + QStringLiteral("XXXXXX") + suffix));
    return ::mkstemps(name.data(), int(QFile::encodeName(suffix).size()));
}

void writeAll(int fd, QByteArrayView bytes, const QString& path)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw failure(path, systemReason(errno));
        }
        if (n == 0)
            throw failure(path, systemReason(ENOSPC));
        data += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        throw failure(path, systemReason(errno));
    struct stat written = {};
    if (::fstat(fd, &written) != 0)
        throw failure(path, systemReason(errno));
    if (written.st_size != bytes.size())
        throw failure(path, QStringLiteral("%1 de %2 bytes gravados")
                                .arg(qint64(written.st_size))
                                .arg(qint64(bytes.size())));
}
#endif

} // namespace

void write(const QString& path, QByteArrayView bytes, Access access)
{
    if (path.isEmpty())
        throw Error(QStringLiteral("Nenhum nome de arquivo foi dado para gravar."));
#ifdef Q_OS_UNIX
    const QFileInfo target(path);
    QByteArray temporary;
    const int fd =
        createUnique(target.absolutePath(), QLatin1Char('.') + target.fileName() + QLatin1Char('.'),
                     QString(), temporary);
    if (fd < 0)
        throw failure(path, systemReason(errno));
    try {
        mode_t mode = 0600;
        if (access == Access::Shared) {
            struct stat existing = {};
            if (::stat(QFile::encodeName(path).constData(), &existing) == 0) {
                mode = existing.st_mode & 07777;
            } else {
                const mode_t mask = ::umask(0);
                ::umask(mask);
                mode = 0666 & ~mask;
            }
        }
        if (::fchmod(fd, mode) != 0)
            throw failure(path, systemReason(errno));
        writeAll(fd, bytes, path);
        if (::close(fd) != 0) {
            const int error = errno;
            ::unlink(temporary.constData());
            throw failure(path, systemReason(error));
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.constData());
        throw;
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        throw failure(path, systemReason(error));
    }
#else
    Q_UNUSED(access);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw failure(path, file.errorString());
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush() ||
        file.size() != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw failure(path, reason);
    }
    if (!file.commit())
        throw failure(path, file.errorString());
    if (QFileInfo(path).size() != bytes.size())
        throw failure(path, QStringLiteral("tamanho gravado diferente do esperado"));
#endif
}

} // namespace qc::VerifiedFile
