// The yardstick for the station's start-up: the smallest Qt Widgets program that opens
// a window of the capture window's size, and says when it is first painted, the way the
// station does with QUVELOCAP_REPORT_FIRST_PAINT=1.

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <cstdio>

namespace {

class BareWindow : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), QColor(239, 239, 239));
        if (m_painted)
            return;
        m_painted = true;
        std::fputs("bare: first paint\n", stderr);
        std::fflush(stderr);
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    BareWindow window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.resize(820, 647);
    window.show();
    return QApplication::exec();
}
