#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace qc {

// Enrolment numbers are data typed by people and other programs, so one can hold '/',
// "..", a control character or a name a file system refuses. Each becomes a file name
// that stays inside the export folder and maps back to exactly the same number: the
// number's UTF-8 bytes, with these bytes written as %XX (upper-case hex):
//   % / \ : * ? " < > |, the control characters 0x00-0x1F and 0x7F,
//   a '.' or ' ' at the start or the end,
//   the first letter of a name that Windows reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9).
// Everything else (letters, digits, accented letters, '-', '_', inner dots and blanks)
// is kept as it is, so ordinary numbers keep their plain names.
class FileNameCodec
{
public:
    // The longest file name most file systems take, in bytes.
    static constexpr qsizetype MaxNameBytes = 255;

    // The file name for a number with that extension (".jpg"); nothing when the number
    // is empty or its name would be longer than MaxNameBytes.
    static std::optional<QByteArray> encode(const QString& matricula, const QByteArray& extension);

    // The number a file name (without its extension) stands for; nothing when it holds a
    // '%' that does not start two hex digits, is not UTF-8, or is empty.
    static std::optional<QString> decode(const QByteArray& base);
};

} // namespace qc
