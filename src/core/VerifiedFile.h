#pragma once

#include <QByteArrayView>
#include <QString>

namespace qc {

// Writing a file so that success means the bytes are on disk. QSaveFile::commit() in Qt 6.4
// returns true after a short write on a full disk, which stored truncated photos; here
// every write is checked, the data is flushed to the device and the size read back.
namespace VerifiedFile {

enum class Access
{
    Shared,  // the umask's usual permissions, or those of the file being replaced
    Private, // the owner only (0600)
};

// Writes bytes to path through a new file beside it that is renamed over path only once
// complete, so a failure leaves an existing file as it was. Throws Error naming the file
// and the reason.
void write(const QString& path, QByteArrayView bytes, Access access = Access::Shared);

} // namespace VerifiedFile

} // namespace qc
