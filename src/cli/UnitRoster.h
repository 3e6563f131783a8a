#pragma once

#include "records/PhotoRepository.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace qc {

class Module1;

// The students of one unit, read the way the capture window reads them: by unit code and
// enrolment number, a photo at a time. A unit can hold thousands of photos, so nothing
// here holds more than one photo and one page of enrolment numbers.
class UnitRoster
{
public:
    // Enrolment numbers fetched per statement while walking the unit.
    static constexpr int PageSize = PhotoRepository::PageSize;

    // Statements go through the station's repository on module's connection: a lost
    // connection is opened again once, as in the window.
    UnitRoster(Module1& module, const QString& unit);

    // Whether bas_unidades knows the unit.
    bool unitExists() const;

    // Students (distinct enrolment numbers) of the unit with a photo of at least one byte.
    qint64 countWithPhoto() const;

    // Whether any row of the unit has that enrolment number.
    bool hasStudent(const QString& matricula) const;

    // Every enrolment number of the unit once, in the database's order; hasPhoto when
    // one of its rows holds a photo. Rows without an enrolment number are not reached
    // (the window cannot reach them either). visit may run statements of its own.
    void
    forEachStudent(bool onlyWithPhoto,
                   const std::function<void(const QString& matricula, bool hasPhoto)>& visit) const;

    // The photo of the student's first row that has one, the bytes exactly as stored;
    // empty when he has none any more.
    QByteArray readPhoto(const QString& matricula) const;

private:
    mutable PhotoRepository m_repository;
    QString m_unit;
};

} // namespace qc
