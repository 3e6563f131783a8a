#include "settings/QtSettingsStore.h"

#include "core/AppInfo.h"
#include "core/Error.h"
#include "core/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <optional>

namespace qc {

namespace {

const QString kSection = QStringLiteral("Config");

// The file's lines. UTF-8 as the station writes it; a file saved by an editor in
// Latin-1 would otherwise lose its accents to replacement characters.
QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            qCWarning(lcSettings, "cannot read %s: %s", qUtf8Printable(path),
                      qUtf8Printable(file.errorString()));
        return {};
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.split(QLatin1Char('\n'));
}

bool isSectionLine(const QString& trimmed)
{
    return trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
}

// The key of a "key = value" line, or nothing for a comment, a blank or a section.
std::optional<QString> keyOf(const QString& line, qsizetype* equals = nullptr)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) ||
        trimmed.startsWith(QLatin1Char('#')) || isSectionLine(trimmed))
        return std::nullopt;
    const qsizetype at = line.indexOf(QLatin1Char('='));
    if (at < 0)
        return std::nullopt;
    if (equals)
        *equals = at;
    return line.left(at).trimmed();
}

QString unescape(QStringView text)
{
    QString value;
    value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size() &&
            (text.at(i + 1) == QLatin1Char('\\') || text.at(i + 1) == QLatin1Char('"'))) {
            value += text.at(++i);
        } else {
            value += c;
        }
    }
    return value;
}

QString decodeValue(const QString& raw)
{
    const QString text = raw.trimmed();
    QString value;
    if (text.startsWith(QLatin1Char('"'))) {
        // Up to the closing quote that is not escaped; what follows it is no value.
        qsizetype end = 1;
        while (end < text.size() && text.at(end) != QLatin1Char('"'))
            end += text.at(end) == QLatin1Char('\\') ? 2 : 1;
        value = unescape(QStringView(text).mid(1, qMin(end, text.size()) - 1));
    } else {
        value = unescape(text);
    }
    // QSettings doubles a leading '@' so that its own type markers stay apart.
    if (value.startsWith(QLatin1String("@@")))
        value.remove(0, 1);
    return value;
}

QString encodeValue(const QString& value)
{
    QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

std::optional<QString> find(const QStringList& lines, const QString& key)
{
    bool inSection = false;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (isSectionLine(trimmed)) {
            inSection = trimmed.mid(1, trimmed.size() - 2).trimmed() == kSection;
            continue;
        }
        qsizetype equals = 0;
        if (inSection && keyOf(line, &equals) == key)
            return decodeValue(line.mid(equals + 1));
    }
    return std::nullopt;
}

// The lines with key set to value: its line replaced, or added at the end of the
// section, or a new section at the end of the file.
QStringList withValue(QStringList lines, const QString& key, const QString& value)
{
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    const QString entry = key + QLatin1Char('=') + encodeValue(value);
    qsizetype insertAt = -1;
    bool inSection = false;
    bool written = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines.at(i).trimmed();
        if (isSectionLine(trimmed)) {
            inSection = trimmed.mid(1, trimmed.size() - 2).trimmed() == kSection;
            continue;
        }
        if (!inSection)
            continue;
        const std::optional<QString> lineKey = keyOf(lines.at(i));
        if (lineKey == key) {
            if (written) { // a second line for the key would contradict the first
                lines.removeAt(i--);
                continue;
            }
            lines[i] = entry;
            written = true;
        }
        if (!trimmed.isEmpty())
            insertAt = i + 1;
    }
    if (written)
        return lines;
    if (insertAt >= 0) {
        lines.insert(insertAt, entry);
        return lines;
    }
    // No section yet, or an empty one: find its header, else add it.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines.at(i).trimmed();
        if (isSectionLine(trimmed) && trimmed.mid(1, trimmed.size() - 2).trimmed() == kSection) {
            lines.insert(i + 1, entry);
            return lines;
        }
    }
    if (!lines.isEmpty())
        lines.append(QString());
    lines.append(QLatin1Char('[') + kSection + QLatin1Char(']'));
    lines.append(entry);
    return lines;
}

} // namespace

QtSettingsStore::QtSettingsStore() : QtSettingsStore(QString()) {}

QtSettingsStore::QtSettingsStore(const QString& iniFile)
    : m_file(!iniFile.isEmpty()
                 ? iniFile
                 : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       QLatin1Char('/') + applicationName() + QLatin1Char('/') + applicationName() +
                       QStringLiteral(".conf"))
{}

QString QtSettingsStore::value(const QString& key) const
{
    return find(readLines(m_file), key).value_or(QString());
}

void QtSettingsStore::setValue(const QString& key, const QString& value)
{
    // A line break would end the value early and start a line of its own.
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        throw Error(QStringLiteral("o valor de \"%1\" contém uma quebra de linha.").arg(key));

    const QString text =
        withValue(readLines(m_file), key, value).join(QLatin1Char('\n')) + QLatin1Char('\n');
    const auto fail = [&](const QString& reason) {
        qCWarning(lcSettings, "cannot store %s in %s: %s", qUtf8Printable(key),
                  qUtf8Printable(m_file), qUtf8Printable(reason));
        throw Error(m_file + QStringLiteral(": ") + reason);
    };
    const QString folder = QFileInfo(m_file).absolutePath();
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("a pasta %1 não pode ser criada.").arg(folder));
    QSaveFile file(m_file);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    // Before any byte is written: the password is never readable by other users.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (file.write(text.toUtf8()) < 0 || !file.commit())
        fail(file.errorString());
    if (find(readLines(m_file), key) != value)
        fail(QStringLiteral("o arquivo não guardou o valor de \"%1\".").arg(key));
}

} // namespace qc
