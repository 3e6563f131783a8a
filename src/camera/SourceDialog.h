#pragma once

#include <QDialog>

namespace qc {

class CaptureDriver;

// The video source dialog: one widget per control the device reports (a slider for an
// integer, a check box for a boolean, a combo box for a menu, a push button for a
// button). Every change goes to the device at once; there is nothing to confirm.
class SourceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SourceDialog(CaptureDriver& driver, QWidget* parent = nullptr);

private:
    CaptureDriver& m_driver;
};

} // namespace qc
