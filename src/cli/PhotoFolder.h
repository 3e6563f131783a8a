#pragma once

#include <QByteArray>
#include <QString>

#include "core/Error.h"

#include <functional>

namespace qc {

// The folder a unit's photos are written to or read from. Every file is named relative
// to the folder's own handle and no name holds a '/', so nothing is ever written
// outside it, whatever links or names the folder already holds. Throws Error.
class PhotoFolder
{
public:
    enum class Written
    {
        Written,
        Kept // a file of that name was there, and replacing was not asked for
    };

    // create: make the folder (one level) when it is missing.
    PhotoFolder(const QString& path, bool create);
    ~PhotoFolder();
    PhotoFolder(const PhotoFolder&) = delete;
    PhotoFolder& operator=(const PhotoFolder&) = delete;

    const QString& path() const { return m_path; }

    // Anything under that name, a dangling link included.
    bool exists(const QByteArray& name) const;

    // Writes bytes to a new file under that name. The file appears whole or not at all: it
    // is written aside, checked (every byte written, flushed to the disk, its size), and
    // only then renamed into place; without replace an existing file of that name wins,
    // even one that appeared meanwhile. A failure leaves nothing behind.
    Written write(const QByteArray& name, bool replace, const QByteArray& bytes);

    // The whole content of a regular file of the folder (links followed), refused when
    // larger than maxBytes.
    QByteArray read(const QByteArray& name, qint64 maxBytes) const;

    // The names of the folder's entries that are, or lead to, regular files, in the
    // folder's own order; the folder is read as it goes, not listed up front.
    void forEachFile(const std::function<void(const QByteArray& name)>& visit) const;

private:
    Error failure(const QString& what, const QByteArray& name, int error) const;

    QString m_path;
    int m_fd = -1;
    quint64 m_serial = 0;
};

} // namespace qc
