#include "shell/PhotoDay.h"

#include "core/Error.h"
#include "core/SettingsStore.h"
#include "imaging/ImageControl.h"
#include "imaging/PictureDecoder.h"
#include "records/Module1.h"
#include "records/PhotoRepository.h"
#include "records/StudentRoster.h"
#include "records/UndoLastPhoto.h"
#include "records/UnitList.h"
#include "shell/StudentsPanel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace qc {

PhotoDay::PhotoDay(const PhotoDayControls& controls, Module1& module, SettingsStore& settings)
    : m_ui(controls), m_module(module), m_settings(settings),
      m_roster(std::make_unique<StudentRoster>(module)),
      m_undo(std::make_unique<UndoLastPhoto>(module))
{
    m_shown = settings.value(ShownKey) == QStringLiteral("1");
}

// Made when first shown: a station that never shows it does not build it before its
// window's first paint.
StudentsPanel& PhotoDay::panel() const
{
    if (!m_panel) {
        m_panel = new StudentsPanel(*m_roster, m_ui.window);
        m_panel->hide();
        connect(m_panel, &StudentsPanel::studentChosen, this, &PhotoDay::choose);
    }
    return *m_panel;
}

PhotoDay::~PhotoDay() = default;

QString PhotoDay::unit() const
{
    return UnitList::codeOfEntry(m_ui.cmbUnidade->currentText(), m_ui.cmbUnidade->currentData());
}

void PhotoDay::setMensagem(const QString& text)
{
    m_ui.lblMensagem->setText(text);
    m_ui.lblMensagem->setToolTip(text);
}

void PhotoDay::setShown(bool shown)
{
    if (shown != (m_settings.value(ShownKey) == QStringLiteral("1"))) {
        try {
            m_settings.setValue(ShownKey, shown ? QStringLiteral("1") : QStringLiteral("0"));
        } catch (const Error& error) {
            setMensagem(QStringLiteral("Erro: ") + error.description());
        }
    }
    m_shown = shown;
    panel().setVisible(shown);
    if (shown && (m_stale || m_roster->unit() != unit()))
        unitChanged();
}

void PhotoDay::unitChanged()
{
    m_stale = !m_shown;
    if (!m_shown)
        return;
    panel().clearCurrentPhoto();
    m_shownUnit.clear();
    m_shownEnrolment.clear();
    m_roster->setNameSetting(m_settings.value(NameKey));
    m_roster->load(m_module.cnBanco() ? unit() : QString());
}

void PhotoDay::choose(const QString& enrolment)
{
    m_ui.txtMatricula->setText(enrolment);
    showCurrent(unit(), enrolment);
}

bool PhotoDay::showCurrent(const QString& unit, const QString& enrolment)
{
    m_shownUnit = unit;
    m_shownEnrolment = enrolment;
    QImage photo;
    QString name;
    try {
        PhotoRepository repository(m_module);
        const QByteArray bytes = repository.readFirstPhoto(unit, enrolment);
        if (!bytes.isEmpty()) {
            photo = PictureDecoder().decode(bytes);
            if (photo.isNull()) // unreadable, but a photo the store would replace
                photo = QImage(1, 1, QImage::Format_RGB32);
        }
        if (!m_roster->nameColumn().isEmpty())
            name = repository.studentName(unit, enrolment, m_roster->nameColumn());
        panel().showCurrentPhoto(photo, name);
        panel().setStatus(QString());
    } catch (const Error& error) {
        m_shownEnrolment.clear(); // nothing was seen
        panel().clearCurrentPhoto();
        panel().setStatus(error.description());
        return false;
    }
    return !photo.isNull();
}

void PhotoDay::startPreview()
{
    // As the operator's click: the window's handler also starts what follows the preview
    // (the face guide).
    if (m_ui.cmdStart->isEnabled() && !m_ui.cmdStop->isEnabled())
        m_ui.cmdStart->click();
}

void PhotoDay::matriculaEntered()
{
    if (!m_shown)
        return;
    const QString enrolment = m_ui.txtMatricula->text();
    if (enrolment.trimmed().isEmpty())
        return;
    // A number that is not the unit's (a card of another school, a misread scan) starts
    // nothing.
    if (!panel().choose(enrolment)) {
        bool known = false;
        try {
            known = PhotoRepository(m_module).hasStudent(unit(), enrolment);
        } catch (const Error& error) {
            panel().setStatus(error.description());
            return;
        }
        if (!known) {
            m_shownEnrolment.clear();
            panel().clearCurrentPhoto();
            panel().currentPhoto()->setText(QStringLiteral("Registro não encontrado!"));
            return;
        }
    }
    showCurrent(unit(), enrolment);
    startPreview();
}

bool PhotoDay::aboutToStore(const QString& unit, const QString& enrolment)
{
    // Hidden, a store runs its designed statements and nothing else.
    if (!m_shown)
        return true;
    // The photo about to be replaced has been in front of the operator first.
    if (unit != m_shownUnit || enrolment != m_shownEnrolment) {
        panel().choose(enrolment);
        if (showCurrent(unit, enrolment)) {
            setMensagem(QStringLiteral("Este aluno já tem foto: confira a Foto atual e salve "
                                       "de novo para substituí-la."));
            return false;
        }
    }
    m_undo->aboutToStore(unit, enrolment);
    return true;
}

void PhotoDay::stored(const QString& unit, const QString& enrolment, const QByteArray& bytes)
{
    if (!m_shown) {
        m_stale = true; // shown again, the list reads the unit afresh
        return;
    }
    m_undo->stored(unit, enrolment, bytes);
    emit undoAvailable(m_undo->available());
    if (m_roster->unit() == unit)
        m_roster->setHasPhoto(enrolment, true);
    panel().showCurrentPhoto(PictureDecoder().decode(bytes), panel().studentName()->text());
    if (panel().advance()->isChecked() && m_roster->unit() == unit) {
        const int next = m_roster->nextWithoutPhoto(m_roster->rowOf(enrolment));
        if (next >= 0) {
            const QString nextEnrolment = m_roster->student(next).enrolment;
            // The photo just stored is this student's, never the next one's.
            m_ui.ImagXpress2->setPicture(QImage());
            panel().choose(nextEnrolment);
            choose(nextEnrolment);
            startPreview();
        }
    }
    m_ui.txtMatricula->setFocus(Qt::OtherFocusReason);
    m_ui.txtMatricula->selectAll();
}

void PhotoDay::undoLastPhoto()
{
    const QString unit = m_undo->unit();
    const QString enrolment = m_undo->enrolment();
    UndoLastPhoto::Result result;
    try {
        result = m_undo->undo();
    } catch (const Error& error) {
        setMensagem(QStringLiteral("Erro: ") + error.description());
        return;
    }
    setMensagem(UndoLastPhoto::message(result));
    emit undoAvailable(m_undo->available());
    if (!m_shown || result == UndoLastPhoto::Result::Nothing)
        return;
    if (m_roster->unit() == unit && result != UndoLastPhoto::Result::Changed)
        m_roster->setHasPhoto(enrolment, result == UndoLastPhoto::Result::Restored);
    if (m_shownUnit == unit && m_shownEnrolment == enrolment)
        showCurrent(unit, enrolment);
}

} // namespace qc
