#include "settings/QtSettingsStore.h"

#include "core/AppInfo.h"

#include <QFile>
#include <QSettings>

#include <memory>

namespace qc {

namespace {

std::unique_ptr<QSettings> open(const QString& file)
{
    if (file.isEmpty())
        return std::make_unique<QSettings>(applicationName(), applicationName());
    return std::make_unique<QSettings>(file, QSettings::IniFormat);
}

const QString kGroup = QStringLiteral("Config/");

} // namespace

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::QtSettingsStore(const QString& iniFile) : m_file(iniFile) {}

QString QtSettingsStore::value(const QString& key) const
{
    return open(m_file)->value(kGroup + key, QString()).toString();
}

void QtSettingsStore::setValue(const QString& key, const QString& value)
{
    auto settings = open(m_file);
    settings->setValue(kGroup + key, value);
    settings->sync();
    // QSettings writes the file with the umask's mode; the password must not be readable
    // by other users of the machine.
    QFile::setPermissions(settings->fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

QString QtSettingsStore::fileName() const
{
    return open(m_file)->fileName();
}

} // namespace qc
