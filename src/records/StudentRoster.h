#pragma once

#include "records/PhotoRepository.h"

#include <QAbstractListModel>
#include <QString>
#include <QVector>

#include <optional>

namespace qc {

class Module1;

// The chosen unit's students as a list: those without a photo first, then the others,
// each part in enrolment order. Pages of the repository are read one per turn of the
// event loop, so a unit of thousands fills in while the window keeps answering; the
// counts are read at once. Knows no widget.
class StudentRoster : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        EnrolmentRole = Qt::UserRole + 1,
        NameRole,
        HasPhotoRole,
    };
    struct Student
    {
        QString enrolment;
        QString name;
        bool hasPhoto = false;
    };

    explicit StudentRoster(Module1& module, QObject* parent = nullptr);

    // The student table's column with the names ("" for none); checked on the next load.
    void setNameSetting(const QString& setting) { m_nameSetting = setting; }
    // The column in use after a load ("" when none).
    const QString& nameColumn() const { return m_nameColumn; }
    void setPageSize(int rows) { m_pageSize = rows; }

    // Starts over with the unit's students ("" empties the list). Throws nothing: a
    // failure is kept in error() and announced by failed().
    void load(const QString& unit);
    // Reads every page that is still to come, now.
    void finishLoading();
    bool loading() const { return m_phase != Phase::Done; }
    const QString& unit() const { return m_unit; }
    const QString& error() const { return m_error; }

    qint64 total() const { return m_total; }
    qint64 withoutPhoto() const { return m_total - m_withPhoto; }
    // "Sem foto: N de M"
    QString countsText() const;

    const Student& student(int row) const { return m_students.at(row); }
    int rowOf(const QString& enrolment) const;
    // The first student without a photo after `row` (from the top when none is after it,
    // -1 when none is left), reading further pages when the loaded ones have none.
    int nextWithoutPhoto(int row);
    // The student now has (or no longer has) a photo: mark and counts follow.
    void setHasPhoto(const QString& enrolment, bool hasPhoto);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    void countsChanged();
    void loaded();
    void failed(const QString& reason);

private:
    enum class Phase
    {
        WithoutPhoto,
        WithPhoto,
        Done,
    };
    bool readPage(); // false when the unit is all read (or failed)
    void schedulePage();
    void fail(const QString& reason);
    void recount();

    PhotoRepository m_repository;
    QString m_nameSetting;
    QString m_nameColumn;
    int m_pageSize = PhotoRepository::PageSize;
    QString m_unit;
    QString m_error;
    QVector<Student> m_students;
    Phase m_phase = Phase::Done;
    std::optional<QString> m_after;
    quint64 m_generation = 0; // a page scheduled for an earlier load is dropped
    qint64 m_total = 0;
    qint64 m_withPhoto = 0;
};

} // namespace qc
