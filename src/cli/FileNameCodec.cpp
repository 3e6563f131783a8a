#include "cli/FileNameCodec.h"

#include <QStringDecoder>

namespace qc {

namespace {

bool alwaysEscaped(uchar byte)
{
    return byte < 0x20 || byte == 0x7F || QByteArrayView("%/\\:*?\"<>|").contains(char(byte));
}

// Windows refuses these names with any extension, in any case.
bool reservedOnWindows(const QByteArray& bytes)
{
    const qsizetype dot = bytes.indexOf('.');
    const QByteArray stem = (dot < 0 ? bytes : bytes.left(dot)).toUpper();
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.startsWith("COM") || stem.startsWith("LPT")) &&
           stem.at(3) >= '1' && stem.at(3) <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<QByteArray> FileNameCodec::encode(const QString& matricula,
                                                const QByteArray& extension)
{
    const QByteArray bytes = matricula.toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    const bool reserved = reservedOnWindows(bytes);
    static const char hex[] = "0123456789ABCDEF";
    QByteArray name;
    name.reserve(bytes.size() + extension.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar byte = uchar(bytes.at(i));
        const bool edge = i == 0 || i == bytes.size() - 1;
        if (alwaysEscaped(byte) || (edge && (byte == '.' || byte == ' ')) || (i == 0 && reserved)) {
            name.append('%');
            name.append(hex[byte >> 4]);
            name.append(hex[byte & 0xF]);
        } else {
            name.append(char(byte));
        }
    }
    name.append(extension);
    if (name.size() > MaxNameBytes)
        return std::nullopt;
    return name;
}

std::optional<QString> FileNameCodec::decode(const QByteArray& base)
{
    QByteArray bytes;
    bytes.reserve(base.size());
    for (qsizetype i = 0; i < base.size(); ++i) {
        if (base.at(i) != '%') {
            bytes.append(base.at(i));
            continue;
        }
        const int high = i + 2 < base.size() ? hexValue(base.at(i + 1)) : -1;
        const int low = high >= 0 ? hexValue(base.at(i + 2)) : -1;
        if (low < 0)
            return std::nullopt;
        bytes.append(char(high << 4 | low));
        i += 2;
    }
    if (bytes.isEmpty())
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

} // namespace qc
