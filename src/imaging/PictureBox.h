#pragma once

#include <QImage>
#include <QWidget>

namespace qc {

// The picture box: a plain area with a background colour that shows a picture drawn
// unscaled from its top-left corner and cut at its edges. Capture windows live in it
// as child widgets.
class PictureBox : public QWidget
{
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QImage& image);
    QImage picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

} // namespace qc
