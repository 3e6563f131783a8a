#include "records/UndoLastPhoto.h"

namespace qc {

UndoLastPhoto::UndoLastPhoto(Module1& module) : m_repository(module) {}

void UndoLastPhoto::aboutToStore(const QString& unit, const QString& enrolment)
{
    m_pending.reset();
    std::optional<QByteArray> previous;
    try {
        const QByteArray bytes = m_repository.readFirstPhoto(unit, enrolment);
        if (!bytes.isEmpty())
            previous = bytes;
    } catch (const std::exception&) {
        return; // the store itself will meet the same failure and say so
    }
    m_pending = Store{unit, enrolment, previous, QByteArray()};
}

void UndoLastPhoto::stored(const QString& unit, const QString& enrolment, const QByteArray& bytes)
{
    // Without what the row held before, this store cannot be undone, and no older one
    // may be undone in its place.
    m_last.reset();
    if (!m_pending || m_pending->unit != unit || m_pending->enrolment != enrolment)
        return;
    m_last = std::move(m_pending);
    m_pending.reset();
    m_last->written = bytes;
}

UndoLastPhoto::Result UndoLastPhoto::undo()
{
    if (!m_last)
        return Result::Nothing;
    const bool done = m_repository.replacePhotoIf(m_last->unit, m_last->enrolment, m_last->written,
                                                  m_last->previous);
    const bool hadPhoto = m_last->previous.has_value();
    m_last.reset();
    if (!done)
        return Result::Changed;
    return hadPhoto ? Result::Restored : Result::Cleared;
}

QString UndoLastPhoto::message(Result result)
{
    switch (result) {
    case Result::Restored:
        return QStringLiteral("Foto anterior restaurada");
    case Result::Cleared:
        return QStringLiteral("Foto desfeita: o aluno está sem foto novamente");
    case Result::Changed:
        return QStringLiteral("A foto do aluno foi alterada depois da gravação; nada foi "
                              "desfeito.");
    case Result::Nothing:
        break;
    }
    return QStringLiteral("Não há foto para desfazer.");
}

} // namespace qc
