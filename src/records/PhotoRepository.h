#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace qc {

class Connection;
class Module1;

// Looks inside a photo procedure while it runs: tests count the chunks and break the
// connection at a chosen moment, the benchmark stays silent. Every call may throw, and
// the procedure then takes its failure path as if the database had failed there.
class PhotoProbe
{
public:
    virtual ~PhotoProbe() = default;
    virtual void opened(const QString& statement) { Q_UNUSED(statement); }
    virtual void chunkRead(qsizetype bytes) { Q_UNUSED(bytes); }
    virtual void chunkAppended(qsizetype bytes) { Q_UNUSED(bytes); }
    virtual void aboutToUpdate() {}
};

// Every statement the station makes on the students' and the units' tables, on the shared
// connection cnBanco, for the window and the command line alike. It knows no window.
//
// Each operation runs under one policy: a statement that failed for a passing reason
// (deadlock, serialization, an aborted transaction) runs once more; a lost connection is
// opened again once from the stored settings and the operation runs once more. Every
// operation is one statement or a read, so running it twice cannot leave half a change.
// Failures are thrown as Error (DatabaseError from the driver).
class PhotoRepository
{
public:
    enum class Outcome
    {
        Done,
        NotFound, // no row for the key
        NoPhoto,  // a read found the row with a null or empty photo
    };

    // One page of a unit's students, in enrolment order: each number once, with whether
    // one of its rows holds a photo of at least one byte.
    struct StudentPage
    {
        QStringList enrolments;
        QList<bool> hasPhoto;
        QStringList names; // one per student when a name column was asked for, else none
    };
    enum class PhotoFilter
    {
        Any,
        WithPhoto,
        WithoutPhoto,
    };

    // Enrolment numbers fetched per statement while walking a unit.
    static constexpr int PageSize = 256;
    // The statement that lists the units, as the window shows them.
    static QString unitListStatement();

    explicit PhotoRepository(Module1& module);

    void setProbe(PhotoProbe* probe) { m_probe = probe; }

    // The student's photo, replaced by bytes in one statement: either the row holds the
    // new photo or, on any failure, the one it had. Refused when several rows hold that
    // unit and enrolment number.
    Outcome storePhoto(const QString& unit, const QString& enrolment, const QByteArray& bytes);
    // The student's stored photo into bytes (an empty unit matches by enrolment alone; of
    // several rows the first is read).
    Outcome readPhoto(const QString& unit, const QString& enrolment, QByteArray& bytes);
    // The photo of the student's first row that has one, the bytes exactly as stored;
    // empty when he has none.
    QByteArray readFirstPhoto(const QString& unit, const QString& enrolment);

    // The same store and read for any table, photo field and key: Filtro is a condition
    // with a '?' for each of FiltroValores, so values are never SQL.
    Outcome writeField(const QString& Tabela, const QString& CampoFoto, const QString& Filtro,
                       const QVariantList& FiltroValores, const QByteArray& bytes);
    Outcome readField(const QString& Tabela, const QString& CampoFoto, const QString& CampoChave,
                      const QString& ValorChave, const QString& Unidade, QByteArray& bytes);

    // Whether bas_unidades knows the unit.
    bool unitExists(const QString& unit);
    // Whether any row of the unit has that enrolment number.
    bool hasStudent(const QString& unit, const QString& enrolment);
    // Students (distinct enrolment numbers) of the unit with a photo of at least one byte.
    qint64 countWithPhoto(const QString& unit);
    // Up to pageSize students of the unit whose enrolment number comes after `after` (from
    // the first without one); fewer than pageSize means the unit ends there. Rows without
    // an enrolment number are never reached (the window cannot reach them either).
    StudentPage students(const QString& unit, bool onlyWithPhoto,
                         const std::optional<QString>& after, int pageSize = PageSize);
    // The same walk kept to the students with or without a photo, each with the value of
    // the student table's column nameColumn (a plain identifier, as nameColumnOf gives it)
    // when one is named.
    StudentPage students(const QString& unit, PhotoFilter filter,
                         const std::optional<QString>& after, int pageSize,
                         const QString& nameColumn);
    // Students (distinct enrolment numbers) of the unit.
    qint64 countStudents(const QString& unit);
    // The student table's column that `setting` names, spelt as the table has it (case
    // aside). Throws Error when it is no plain name or the table has no such column.
    QString nameColumnOf(const QString& setting);
    // The value of nameColumn in the student's first row (empty when none).
    QString studentName(const QString& unit, const QString& enrolment, const QString& nameColumn);

    // Puts `replacement` (nullopt: no photo) in the student's row, in one statement, only
    // while the row is the unit's only one for that number and still holds exactly
    // `expected`. False when it changed nothing.
    bool replacePhotoIf(const QString& unit, const QString& enrolment, const QByteArray& expected,
                        const std::optional<QByteArray>& replacement);

private:
    template <typename Work> auto onConnection(Work&& work);
    qint64 count(const QString& statement, const QVariantList& params);

    Module1& m_module;
    PhotoProbe* m_probe = nullptr;
};

} // namespace qc
