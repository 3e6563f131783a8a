#pragma once

#include "core/Desktop.h"

namespace qc {

// The desktop seam on Qt: QMessageBox, QApplication's override cursor, QFileDialog.
class QtDesktop : public Desktop
{
public:
    void messageBox(const QString& text, const QString& title, Icon icon, Buttons buttons) override;
    void setWaitCursor(bool wait) override;
    bool waitCursor() const override;
    void beep() override;
    QString saveFileName(const QString& filter) override;
    void endProgram() override;
};

} // namespace qc
