#include "cli/UnitRoster.h"

namespace qc {

UnitRoster::UnitRoster(Module1& module, const QString& unit) : m_repository(module), m_unit(unit) {}

bool UnitRoster::unitExists() const
{
    return m_repository.unitExists(m_unit);
}

qint64 UnitRoster::countWithPhoto() const
{
    return m_repository.countWithPhoto(m_unit);
}

bool UnitRoster::hasStudent(const QString& matricula) const
{
    return m_repository.hasStudent(m_unit, matricula);
}

void UnitRoster::forEachStudent(
    bool onlyWithPhoto,
    const std::function<void(const QString& matricula, bool hasPhoto)>& visit) const
{
    std::optional<QString> last;
    for (;;) {
        // The page is read whole before visit runs its own statements (FreeTDS allows one
        // active result per connection).
        const PhotoRepository::StudentPage page =
            m_repository.students(m_unit, onlyWithPhoto, last, PageSize);
        for (qsizetype i = 0; i < page.enrolments.size(); ++i)
            visit(page.enrolments.at(i), page.hasPhoto.at(i));
        if (page.enrolments.size() < PageSize)
            return;
        last = page.enrolments.constLast();
    }
}

QByteArray UnitRoster::readPhoto(const QString& matricula) const
{
    return m_repository.readFirstPhoto(m_unit, matricula);
}

} // namespace qc
