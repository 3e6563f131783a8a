#include "shell/QtDesktop.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMessageBox>

namespace qc {

namespace {

QMessageBox::Icon toQt(Desktop::Icon icon)
{
    switch (icon) {
    case Desktop::Icon::Information:
        return QMessageBox::Information;
    case Desktop::Icon::Warning:
        return QMessageBox::Warning;
    case Desktop::Icon::Critical:
        return QMessageBox::Critical;
    case Desktop::Icon::Question:
        return QMessageBox::Question;
    case Desktop::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// "Description |*.ext" as the station writes it becomes Qt's "Description (*.ext)".
QString toQtFilter(const QString& filter)
{
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    return filter.left(bar) + QLatin1Char('(') + filter.mid(bar + 1) + QLatin1Char(')');
}

} // namespace

void QtDesktop::messageBox(const QString& text, const QString& title, Icon icon, Buttons)
{
    QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : mainWindow();
    QMessageBox box(toQt(icon), titleOrDefault(title), text, QMessageBox::Ok, parent);
    // The wait pointer must not hide the box's own arrow while the operator reads it.
    const bool wasWaiting = waitCursor();
    if (wasWaiting)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (wasWaiting)
        QApplication::restoreOverrideCursor();
}

void QtDesktop::setWaitCursor(bool wait)
{
    // The pointer is one application-wide setting, not a stack: setting the hourglass
    // twice and the default once leaves the default.
    if (wait) {
        if (!waitCursor())
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
}

bool QtDesktop::waitCursor() const
{
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor;
}

void QtDesktop::beep()
{
    QApplication::beep();
}

QString QtDesktop::saveFileName(const QString& filter)
{
    QFileDialog dialog(mainWindow());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(toQtFilter(filter));
    // Replacing an existing file is the station's habit; the dialog must not ask.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void QtDesktop::endProgram()
{
    QCoreApplication::exit(0);
}

} // namespace qc
