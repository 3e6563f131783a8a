#include "cli/PhotoFolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace qc {

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // The close's own answer: a delayed write error shows only here.
    int release()
    {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
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
void writeWhole(Descriptor& fd, const QByteArray& name, const QByteArray& bytes,
                const std::function<Error(int)>& failed)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw failed(n < 0 ? errno : ENOSPC);
        data += n;
        left -= n;
    }
    if (::fsync(fd.get()) != 0)
        throw failed(errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        throw failed(errno);
    if (qint64(st.st_size) != bytes.size())
        throw wrongSize(name, qint64(st.st_size), bytes.size());
    if (fd.release() != 0)
        throw failed(errno);
}

} // namespace

PhotoFolder::PhotoFolder(const QString& path, bool create) : m_path(path)
{
    const QByteArray native = QFile::encodeName(path);
    if (create && ::mkdir(native.constData(), 0777) != 0 && errno != EEXIST)
        throw Error(QStringLiteral("Não foi possível criar a pasta \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), reason(errno)));
    m_fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        throw Error(QStringLiteral("Não foi possível abrir a pasta \"%1\": %2")
                        .arg(QDir::toNativeSeparators(path), reason(errno)));
}

PhotoFolder::~PhotoFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Error PhotoFolder::failure(const QString& what, const QByteArray& name, int error) const
{
    return Error(QStringLiteral("%1 \"%2\": %3")
                     .arg(what,
                          QDir::toNativeSeparators(QDir(m_path).filePath(QString::fromUtf8(name))),
                          reason(error)));
}

bool PhotoFolder::exists(const QByteArray& name) const
{
    struct stat st;
    return ::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

PhotoFolder::Written PhotoFolder::write(const QByteArray& name, bool replace,
                                        const QByteArray& bytes)
{
    const QString writeError = QStringLiteral("Não foi possível gravar o arquivo");
    // Hidden and unique to this run, so neither an import of the folder nor a second
    // export at the same time takes it for a photo.
    const QByteArray temp = ".quvelocap-" + QByteArray::number(qint64(::getpid())) + '-' +
                            QByteArray::number(++m_serial) + ".tmp";
    Descriptor fd(::openat(m_fd, temp.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw failure(writeError, temp, errno);
    bool placed = false;
    struct Cleanup
    {
        const PhotoFolder& folder;
        const QByteArray& temp;
        const bool& placed;
        ~Cleanup()
        {
            if (!placed)
                ::unlinkat(folder.m_fd, temp.constData(), 0);
        }
    } cleanup{*this, temp, placed};

    writeWhole(fd, name, bytes, [&](int error) { return failure(writeError, name, error); });

    if (replace) {
        if (::renameat(m_fd, temp.constData(), m_fd, name.constData()) != 0)
            throw failure(writeError, name, errno);
        placed = true;
        return Written::Written;
    }
    // A link fails when the name is taken, at that very moment; the rename that would
    // do the same (RENAME_NOREPLACE) is not offered by every file system.
    if (::linkat(m_fd, temp.constData(), m_fd, name.constData(), 0) != 0) {
        if (errno == EEXIST)
            return Written::Kept;
        throw failure(writeError, name, errno);
    }
    return Written::Written; // the cleanup removes the temporary name
}

QByteArray PhotoFolder::read(const QByteArray& name, qint64 maxBytes) const
{
    const QString readError = QStringLiteral("Não foi possível ler o arquivo");
    // Non-blocking, so that a named pipe left in the folder cannot hold the run up.
    Descriptor fd(::openat(m_fd, name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        throw failure(readError, name, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        throw failure(readError, name, errno);
    if (!S_ISREG(st.st_mode))
        throw failure(readError, name, EINVAL);
    if (st.st_size > maxBytes)
        throw Error(QStringLiteral("O arquivo \"%1\" tem %2 bytes, mais que os %3 de uma foto.")
                        .arg(QString::fromUtf8(name))
                        .arg(qint64(st.st_size))
                        .arg(maxBytes));
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw failure(readError, name, errno);
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got); // shrunk while being read: the decoder judges what is left
    return bytes;
}

void PhotoFolder::forEachFile(const std::function<void(const QByteArray& name)>& visit) const
{
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw failure(QStringLiteral("Não foi possível ler a pasta"), ".", error);
    }
    struct Closer
    {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw failure(QStringLiteral("Não foi possível ler a pasta"), ".", errno);
            return;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::fstatat(m_fd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        visit(name);
    }
}

} // namespace qc
