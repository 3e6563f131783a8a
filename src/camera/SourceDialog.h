#pragma once

#include <QDialog>
#include <QPointer>

namespace qc {

class CaptureDriver;
struct CaptureControl;

// The video source dialog: one widget per control the device reports (a slider for an
// integer, a check box for a boolean, a combo box for a menu, a push button for a
// button). Every change goes to the device at once; there is nothing to confirm. The
// dialog closes itself when the camera goes away under it.
class SourceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SourceDialog(CaptureDriver& driver, QWidget* parent = nullptr);

private:
    // The widget that edits one control, sending every change to the device.
    QWidget* editorFor(const CaptureControl& control);
    QWidget* sliderFor(const CaptureControl& control);
    void apply(quint32 id, int value);

    QPointer<CaptureDriver> m_driver;
};

} // namespace qc
