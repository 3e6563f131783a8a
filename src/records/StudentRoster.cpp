#include "records/StudentRoster.h"

#include "core/Error.h"

#include <QTimer>

namespace qc {

StudentRoster::StudentRoster(Module1& module, QObject* parent)
    : QAbstractListModel(parent), m_repository(module)
{}

QString StudentRoster::countsText() const
{
    return QStringLiteral("Sem foto: %1 de %2").arg(withoutPhoto()).arg(m_total);
}

void StudentRoster::load(const QString& unit)
{
    ++m_generation;
    beginResetModel();
    m_students.clear();
    m_unit = unit;
    m_error.clear();
    m_after.reset();
    m_total = m_withPhoto = 0;
    m_nameColumn.clear();
    m_phase = unit.isEmpty() ? Phase::Done : Phase::WithoutPhoto;
    endResetModel();
    if (m_phase == Phase::Done) {
        emit countsChanged();
        emit loaded();
        return;
    }
    QString nameFailure;
    try {
        if (!m_nameSetting.trimmed().isEmpty())
            m_nameColumn = m_repository.nameColumnOf(m_nameSetting.trimmed());
    } catch (const Error& error) {
        nameFailure = error.description(); // the list still comes, without names
    }
    try {
        recount();
    } catch (const Error& error) {
        fail(error.description());
        return;
    }
    emit countsChanged();
    if (!nameFailure.isEmpty()) {
        m_error = nameFailure;
        emit failed(nameFailure);
    }
    schedulePage();
}

void StudentRoster::recount()
{
    m_total = m_repository.countStudents(m_unit);
    m_withPhoto = m_repository.countWithPhoto(m_unit);
}

void StudentRoster::fail(const QString& reason)
{
    m_phase = Phase::Done;
    m_error = reason;
    emit countsChanged();
    emit failed(reason);
}

void StudentRoster::schedulePage()
{
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation != m_generation || m_phase == Phase::Done)
            return;
        if (readPage())
            schedulePage();
    });
}

bool StudentRoster::readPage()
{
    PhotoRepository::StudentPage page;
    try {
        page = m_repository.students(m_unit,
                                     m_phase == Phase::WithoutPhoto
                                         ? PhotoRepository::PhotoFilter::WithoutPhoto
                                         : PhotoRepository::PhotoFilter::WithPhoto,
                                     m_after, m_pageSize, m_nameColumn);
    } catch (const Error& error) {
        fail(error.description());
        return false;
    }
    if (!page.enrolments.isEmpty()) {
        const int first = int(m_students.size());
        beginInsertRows(QModelIndex(), first, first + int(page.enrolments.size()) - 1);
        for (int i = 0; i < page.enrolments.size(); ++i)
            m_students.append(Student{page.enrolments.at(i),
                                      page.names.isEmpty() ? QString() : page.names.at(i),
                                      page.hasPhoto.at(i)});
        endInsertRows();
        m_after = page.enrolments.last();
    }
    if (page.enrolments.size() < m_pageSize) {
        m_after.reset();
        m_phase = m_phase == Phase::WithoutPhoto ? Phase::WithPhoto : Phase::Done;
        if (m_phase == Phase::Done) {
            emit loaded();
            return false;
        }
    }
    return true;
}

void StudentRoster::finishLoading()
{
    while (m_phase != Phase::Done && readPage()) {
    }
}

int StudentRoster::rowOf(const QString& enrolment) const
{
    for (int row = 0; row < m_students.size(); ++row)
        if (m_students.at(row).enrolment == enrolment)
            return row;
    return -1;
}

int StudentRoster::nextWithoutPhoto(int row)
{
    for (;;) {
        for (int next = row + 1; next < m_students.size(); ++next)
            if (!m_students.at(next).hasPhoto)
                return next;
        // Those without a photo all come before the first page with photos.
        if (m_phase != Phase::WithoutPhoto || !readPage())
            break;
    }
    for (int next = 0; next <= row && next < m_students.size(); ++next)
        if (!m_students.at(next).hasPhoto)
            return next;
    return -1;
}

void StudentRoster::setHasPhoto(const QString& enrolment, bool hasPhoto)
{
    const int row = rowOf(enrolment);
    if (row >= 0 && m_students.at(row).hasPhoto != hasPhoto) {
        m_students[row].hasPhoto = hasPhoto;
        const QModelIndex changed = index(row);
        emit dataChanged(changed, changed);
    }
    if (m_unit.isEmpty())
        return;
    try {
        recount();
    } catch (const Error& error) {
        m_error = error.description();
    }
    emit countsChanged();
}

int StudentRoster::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_students.size());
}

QVariant StudentRoster::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_students.size())
        return QVariant();
    const Student& student = m_students.at(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        QString text = student.enrolment;
        if (!student.name.isEmpty())
            text += QStringLiteral(" - ") + student.name;
        if (!student.hasPhoto)
            text += QStringLiteral(" (sem foto)");
        return text;
    }
    case EnrolmentRole:
        return student.enrolment;
    case NameRole:
        return student.name;
    case HasPhotoRole:
        return student.hasPhoto;
    default:
        return QVariant();
    }
}

} // namespace qc
