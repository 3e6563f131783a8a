#include "camera/SourceDialog.h"

#include "camera/CaptureDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace qc {

SourceDialog::SourceDialog(CaptureDriver& driver, QWidget* parent)
    : QDialog(parent), m_driver(&driver)
{
    connect(&driver, &CaptureDriver::streamEnded, this, &QDialog::reject);
    connect(&driver, &QObject::destroyed, this, &QDialog::reject);
    setWindowTitle(driver.name());
    setObjectName(QStringLiteral("SourceDialog"));
    auto* form = new QFormLayout;
    for (const CaptureControl& c : driver.controls()) {
        QWidget* editor = editorFor(c);
        editor->setObjectName(c.name);
        if (c.type == CaptureControl::Type::Button)
            form->addRow(QString(), editor);
        else
            form->addRow(c.name, editor);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QWidget* SourceDialog::editorFor(const CaptureControl& c)
{
    const quint32 id = c.id;
    switch (c.type) {
    case CaptureControl::Type::Integer:
        return sliderFor(c);
    case CaptureControl::Type::Boolean: {
        auto* box = new QCheckBox(this);
        box->setChecked(c.value != 0);
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
        return box;
    }
    case CaptureControl::Type::Menu: {
        auto* combo = new QComboBox(this);
        for (const CaptureControl::MenuItem& item : c.menu) {
            combo->addItem(item.name, item.value);
            if (item.value == c.value)
                combo->setCurrentIndex(combo->count() - 1);
        }
        connect(combo, &QComboBox::activated, this,
                [this, id, combo](int index) { apply(id, combo->itemData(index).toInt()); });
        return combo;
    }
    case CaptureControl::Type::Button:
        break;
    }
    auto* button = new QPushButton(c.name, this);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 0); });
    return button;
}

// A slider with the value beside it, which it shows as the slider moves.
QWidget* SourceDialog::sliderFor(const CaptureControl& c)
{
    const quint32 id = c.id;
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, row);
    slider->setRange(c.minimum, c.maximum);
    slider->setSingleStep(c.step);
    slider->setPageStep(std::max(c.step, (c.maximum - c.minimum) / 10));
    slider->setValue(c.value);
    auto* value = new QLabel(QString::number(c.value), row);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
    layout->addWidget(slider);
    layout->addWidget(value);
    connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
        apply(id, v);
        value->setText(QString::number(v));
    });
    return row;
}

void SourceDialog::apply(quint32 id, int value)
{
    if (m_driver)
        m_driver->setControl(id, value);
}

} // namespace qc
