#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QSortFilterProxyModel;

namespace qc {

class StudentRoster;

// The unit's students beside the designed window: the counts, a filter, the list (those
// without a photo first, marked) and the chosen student's stored photo, small, as
// "Foto atual". It only shows; PhotoDay decides what happens on a choice.
class StudentsPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int PanelWidth = 240;

    StudentsPanel(StudentRoster& roster, QWidget* parent = nullptr);

    QLabel* counts() const { return m_counts; }
    QLineEdit* filter() const { return m_filter; }
    QListView* list() const { return m_list; }
    QLabel* currentPhoto() const { return m_photo; }
    QLabel* studentName() const { return m_name; }
    QLabel* status() const { return m_status; }
    QCheckBox* advance() const { return m_advance; }

    // The enrolment number of the student chosen in the list ("" for none).
    QString chosen() const;
    // Chooses that student in the list, without telling anyone (the filter is emptied
    // when it hides him); false when he is not listed.
    bool choose(const QString& enrolment);
    // The chosen student's stored photo, or that there is none (a null image).
    void showCurrentPhoto(const QImage& photo, const QString& name);
    void clearCurrentPhoto();
    void setStatus(const QString& text);

signals:
    // The operator chose a student in the list (click, arrow keys, Enter).
    void studentChosen(const QString& enrolment);

private:
    void updateCounts();

    StudentRoster& m_roster;
    QSortFilterProxyModel* m_proxy;
    QLabel* m_counts;
    QLineEdit* m_filter;
    QListView* m_list;
    QLabel* m_photo;
    QLabel* m_name;
    QLabel* m_status;
    QCheckBox* m_advance;
    bool m_choosing = false;
};

} // namespace qc
