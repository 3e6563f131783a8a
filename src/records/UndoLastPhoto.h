#pragma once

#include "records/PhotoRepository.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qc {

class Module1;

// Puts back what the last store replaced: the student's previous photo, or no photo. The
// previous bytes are kept in memory for this session only, never on disk, and go back
// only while the row still holds exactly the bytes that store wrote; a row that someone
// changed since is left alone.
class UndoLastPhoto
{
public:
    enum class Result
    {
        Restored, // the previous photo is back
        Cleared,  // the student had none, and has none again
        Changed,  // the row no longer holds what was stored: nothing changed
        Nothing,  // no store to undo
    };

    explicit UndoLastPhoto(Module1& module);

    // Before a store: what the student's row holds now. A failed read leaves this store
    // without a way back (never with the wrong one).
    void aboutToStore(const QString& unit, const QString& enrolment);
    // After the row holds bytes.
    void stored(const QString& unit, const QString& enrolment, const QByteArray& bytes);

    bool available() const { return m_last.has_value(); }
    QString enrolment() const { return m_last ? m_last->enrolment : QString(); }
    QString unit() const { return m_last ? m_last->unit : QString(); }

    // Throws Error when the database fails; the store can then be undone again.
    Result undo();
    static QString message(Result result);

private:
    struct Store
    {
        QString unit;
        QString enrolment;
        std::optional<QByteArray> previous; // nullopt: the student had no photo
        QByteArray written;
    };

    PhotoRepository m_repository;
    std::optional<Store> m_pending;
    std::optional<Store> m_last;
};

} // namespace qc
