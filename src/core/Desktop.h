#pragma once

#include <QImage>
#include <QString>

class QWidget;

namespace qc {

// The services of the desktop that the station's handlers call: message boxes, the
// application-wide wait pointer, the beep, the Save dialog and the end of the process.
// The system clipboard is not among them: a grabbed frame put there would outlive the
// station in clipboard history and managers, so the capture library keeps its own copy. Production
// uses QtDesktop; tests use a recording double, so that no modal box ever blocks a test and every
// text, icon and call order can be checked.
class Desktop
{
public:
    enum class Icon
    {
        None,
        Information,
        Warning,
        Critical,
        Question
    };
    enum class Buttons
    {
        Ok
    };

    virtual ~Desktop() = default;

    // A modal message box. An empty title shows the application's name.
    virtual void messageBox(const QString& text, const QString& title = QString(),
                            Icon icon = Icon::None, Buttons buttons = Buttons::Ok) = 0;

    // The application-wide pointer: the hourglass while long work runs, else the default.
    virtual void setWaitCursor(bool wait) = 0;
    virtual bool waitCursor() const = 0;

    virtual void beep() = 0;

    // The modal Save dialog. filter is "Description |*.ext"; returns the chosen full
    // path exactly as the dialog gives it, or the empty text when the operator cancels.
    virtual QString saveFileName(const QString& filter) = 0;

    // Lets the window messages pending now be handled (other events may run inside).
    virtual void processEvents();

    // Ends the program at once: other windows close without their own close handling.
    virtual void endProgram() = 0;

    // The window that dialogs and boxes are shown over (may be null).
    void setMainWindow(QWidget* window) { m_mainWindow = window; }
    QWidget* mainWindow() const { return m_mainWindow; }

    static QString titleOrDefault(const QString& title);

private:
    QWidget* m_mainWindow = nullptr;
};

} // namespace qc
