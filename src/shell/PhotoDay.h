#pragma once

#include "records/PhotoPanel.h"

#include <QObject>
#include <QString>

#include <memory>

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace qc {

class ImageControl;
class Module1;
class SettingsStore;
class StudentRoster;
class StudentsPanel;
class UndoLastPhoto;

// The controls of the capture window that a round of the photo day works with.
struct PhotoDayControls
{
    QWidget* window = nullptr; // the panel's parent
    QComboBox* cmbUnidade = nullptr;
    QLineEdit* txtMatricula = nullptr;
    QLabel* lblMensagem = nullptr;
    QAbstractButton* cmdStart = nullptr;
    QAbstractButton* cmdStop = nullptr;
    ImageControl* ImagXpress2 = nullptr; // the photo that "&Salvar Foto" stores
};

// A line of students photographed one after another: the unit's students panel, the
// round from the keyboard (Enter in "Matricula" shows the student and starts the preview;
// after a store the next student without a photo is chosen) and the undo of the last
// store. With the panel hidden the window works as designed: a store runs no statement of
// ours, and so leaves nothing to undo.
class PhotoDay : public QObject, public PhotoStoreObserver
{
    Q_OBJECT

public:
    // Settings keys: whether the panel is shown ("1"), and the students' name column.
    static inline const QString ShownKey = QStringLiteral("alunos");
    static inline const QString NameKey = QStringLiteral("nome");

    PhotoDay(const PhotoDayControls& controls, Module1& module, SettingsStore& settings);
    ~PhotoDay() override;

    StudentsPanel& panel() const;
    StudentRoster& roster() const { return *m_roster; }
    UndoLastPhoto& undo() const { return *m_undo; }

    bool isShown() const { return m_shown; }
    // Shows or hides the panel (the window makes room for it) and keeps the choice.
    void setShown(bool shown);

    // The unit chosen in cmbUnidade changed.
    void unitChanged();
    // Enter in "Matricula".
    void matriculaEntered();
    // "Desfazer última foto".
    void undoLastPhoto();

    bool aboutToStore(const QString& unit, const QString& enrolment) override;
    void stored(const QString& unit, const QString& enrolment, const QByteArray& bytes) override;

signals:
    void undoAvailable(bool available);

private:
    QString unit() const;
    void choose(const QString& enrolment);
    // Reads the student's stored photo into "Foto atual"; whether he has one.
    bool showCurrent(const QString& unit, const QString& enrolment);
    void startPreview();
    void setMensagem(const QString& text);

    PhotoDayControls m_ui;
    Module1& m_module;
    SettingsStore& m_settings;
    std::unique_ptr<StudentRoster> m_roster;
    std::unique_ptr<UndoLastPhoto> m_undo;
    mutable StudentsPanel* m_panel = nullptr; // a child of the window, made when first needed
    bool m_shown = false;
    bool m_stale = true;                   // the list is not the chosen unit's
    QString m_shownUnit, m_shownEnrolment; // whose photo "Foto atual" shows
};

} // namespace qc
