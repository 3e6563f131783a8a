// What the image control reports of the mouse, driven with real mouse events on its
// viewport: the order of MouseDown/MouseMove/MouseUp/DblClick, their positions in twips
// and VB-style button and shift codes, and the held click that keeps a double-click
// from being reported as a click.

#include "core/Error.h"
#include "imaging/ImageControl.h"

#include <QScreen>
#include <QtTest>

using qc::ImageControl;

namespace {

// One line per reported event, so that a whole sequence compares at once.
class Recorder
{
public:
    explicit Recorder(ImageControl& control)
    {
        auto line = [this](const char* name) {
            return [this, name](int button, int shift, float x, float y) {
                events << QStringLiteral("%1 %2 %3 %4 %5")
                              .arg(QLatin1String(name))
                              .arg(button)
                              .arg(shift)
                              .arg(double(x))
                              .arg(double(y));
            };
        };
        QObject::connect(&control, &ImageControl::MouseDown, line("Down"));
        QObject::connect(&control, &ImageControl::MouseMove, line("Move"));
        QObject::connect(&control, &ImageControl::MouseUp, line("Up"));
        QObject::connect(&control, &ImageControl::DblClick,
                         [this] { events << QStringLiteral("DblClick"); });
    }

    QStringList events;
};

} // namespace

class ImageControlMouseTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ImageControl> m_control;

    ImageControl& control() { return *m_control; }
    QWidget* viewport() { return m_control->viewport(); }
    // Long enough for any held click to have been reported, yet finite.
    int holdTimeout() { return control().clickHoldInterval() * 5 + 1000; }

    void press(QPoint at, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mousePress(viewport(), button, modifiers, at);
    }
    void release(QPoint at, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseRelease(viewport(), button, modifiers, at);
    }
    void move(QPoint at, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseEvent(QTest::MouseMove, viewport(), Qt::NoButton, modifiers, at);
    }
    // The second press of a double-click, as the platform delivers it.
    void doubleClickPress(QPoint at) { QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at); }

private slots:
    void initTestCase()
    {
        // The expected positions below are pixels × 15: twips at 96 dots per inch.
        ImageControl probe;
        QCOMPARE(probe.screen()->logicalDotsPerInchX(), 96.0);
        QCOMPARE(probe.screen()->logicalDotsPerInchY(), 96.0);
    }

    void init()
    {
        m_control = std::make_unique<ImageControl>();
        m_control->resize(400, 300);
        m_control->setPicture(QImage(800, 600, QImage::Format_RGB32));
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
    }

    void cleanup() { m_control.reset(); }

    void dragIsReportedInOrder_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers()
                              << QStringList{"Down 1 0 150 300", "Move 1 0 450 600",
                                             "Move 1 0 750 900", "Up 1 0 750 900"};
        QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers()
                               << QStringList{"Down 2 0 150 300", "Move 2 0 450 600",
                                              "Move 2 0 750 900", "Up 2 0 750 900"};
        QTest::newRow("middle") << Qt::MiddleButton << Qt::KeyboardModifiers()
                                << QStringList{"Down 4 0 150 300", "Move 4 0 450 600",
                                               "Move 4 0 750 900", "Up 4 0 750 900"};
        QTest::newRow("left, Shift+Ctrl")
            << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier)
            << QStringList{"Down 1 3 150 300", "Move 1 3 450 600", "Move 1 3 750 900",
                           "Up 1 3 750 900"};
        QTest::newRow("right, Alt") << Qt::RightButton << Qt::KeyboardModifiers(Qt::AltModifier)
                                    << QStringList{"Down 2 4 150 300", "Move 2 4 450 600",
                                                   "Move 2 4 750 900", "Up 2 4 750 900"};
    }

    void dragIsReportedInOrder()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QStringList, expected);
        Recorder recorder(control());
        press(QPoint(10, 20), button, modifiers);
        QCOMPARE(recorder.events, QStringList()); // nothing until it is known to be a drag
        move(QPoint(30, 40), modifiers);
        move(QPoint(50, 60), modifiers);
        release(QPoint(50, 60), button, modifiers);
        QCOMPARE(recorder.events, expected);
        QVERIFY(!control().isHoldingClick());
    }

    void moveWithoutButtonIsReported()
    {
        Recorder recorder(control());
        QMouseEvent hover(QEvent::MouseMove, QPointF(40, 50),
                          viewport()->mapToGlobal(QPointF(40, 50)), Qt::NoButton, Qt::NoButton,
                          Qt::ShiftModifier);
        QApplication::sendEvent(viewport(), &hover);
        QCOMPARE(recorder.events, QStringList{"Move 0 1 600 750"});
    }

    void clickIsReportedAfterTheHoldInterval_data()
    {
        QTest::addColumn<QList<QPoint>>("moves");
        QTest::addColumn<QPoint>("releasedAt");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("still") << QList<QPoint>{} << QPoint(40, 50)
                               << QStringList{"Down 1 0 600 750", "Up 1 0 600 750"};
        QTest::newRow("hand shaking a little")
            << QList<QPoint>{{42, 51}, {39, 52}} << QPoint(42, 51)
            << QStringList{"Down 1 0 600 750", "Up 1 0 630 765"};
    }

    void clickIsReportedAfterTheHoldInterval()
    {
        QFETCH(QList<QPoint>, moves);
        QFETCH(QPoint, releasedAt);
        QFETCH(QStringList, expected);
        QVERIFY(control().dragThreshold() > 3);
        Recorder recorder(control());
        press(QPoint(40, 50));
        for (const QPoint& at : moves)
            move(at);
        release(releasedAt);
        QCoreApplication::processEvents();
        QCOMPARE(recorder.events, QStringList());
        QVERIFY(control().isHoldingClick());

        QTRY_COMPARE_WITH_TIMEOUT(recorder.events, expected, holdTimeout());
        QVERIFY(!control().isHoldingClick());
    }

    void doubleClickIsReportedAlone_data()
    {
        QTest::addColumn<QList<QPoint>>("firstClickMoves");
        QTest::addColumn<QList<QPoint>>("secondClickMoves");
        QTest::newRow("still") << QList<QPoint>{} << QList<QPoint>{};
        QTest::newRow("hand shaking, second click dragged")
            << QList<QPoint>{{43, 50}} << QList<QPoint>{{44, 52}, {90, 90}};
    }

    void doubleClickIsReportedAlone()
    {
        QFETCH(QList<QPoint>, firstClickMoves);
        QFETCH(QList<QPoint>, secondClickMoves);
        Recorder recorder(control());
        press(QPoint(40, 50));
        for (const QPoint& at : firstClickMoves)
            move(at);
        release(QPoint(41, 50));
        doubleClickPress(QPoint(41, 51));
        for (const QPoint& at : secondClickMoves)
            move(at);
        release(QPoint(41, 51));
        QCOMPARE(recorder.events, QStringList{"DblClick"});

        // A later click far away is reported after its own hold; had the first click of
        // the double-click still been held, its report would come before this one.
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(200, 150));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.events.size(), 3, holdTimeout());
        QCOMPARE(recorder.events,
                 (QStringList{"DblClick", "Down 1 0 3000 2250", "Up 1 0 3000 2250"}));
    }

    // The same through the platform's own double-click detection, which gives the widget
    // press, release, double-click, release.
    void platformDoubleClickIsReportedAlone()
    {
        QTest::mouseMove(control().windowHandle(), QPoint(41, 51)); // the pointer arrives first
        Recorder recorder(control());
        QTest::mouseDClick(control().windowHandle(), Qt::LeftButton, {}, QPoint(41, 51));
        QCOMPARE(recorder.events, QStringList{"DblClick"});
        QVERIFY(!control().isHoldingClick());
    }

    void furtherButtonIsReportedAtOnce_data()
    {
        QTest::addColumn<bool>("dragFirst");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("during a drag")
            << true
            << QStringList{"Down 1 0 150 150", "Move 1 0 600 150", "Down 2 0 600 150",
                           "Up 2 0 600 150", "Up 1 0 600 150"};
        QTest::newRow("before the press moved")
            << false
            << QStringList{"Down 1 0 150 150", "Down 2 0 150 150", "Up 2 0 150 150",
                           "Up 1 0 150 150"};
    }

    void furtherButtonIsReportedAtOnce()
    {
        QFETCH(bool, dragFirst);
        QFETCH(QStringList, expected);
        Recorder recorder(control());
        press(QPoint(10, 10));
        const QPoint at = dragFirst ? QPoint(40, 10) : QPoint(10, 10);
        if (dragFirst)
            move(at);
        press(at, Qt::RightButton);
        release(at, Qt::RightButton);
        release(at);
        QCOMPARE(recorder.events, expected);
        QVERIFY(!control().isHoldingClick());
    }

    void hidingForgetsAHeldClick()
    {
        Recorder recorder(control());
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(40, 50));
        QVERIFY(control().isHoldingClick());
        control().hide();
        QVERIFY(!control().isHoldingClick());
        QCOMPARE(recorder.events, QStringList());
    }

    // The control wired as the capture window wires it: a band from MouseDown, moved by
    // MouseMove while dragging, cut on MouseUp; the whole frame on DblClick.
    void gesturesGiveTheWindowTheRightPhoto_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<bool>("wholeFrame");
        QTest::addColumn<QRect>("photo"); // the region of the frame; null: no photo
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("drag up and left at 200%")
            << "drag" << false << QRect(10, 20, 50, 30) << QStringList();
        QTest::newRow("double-click") << "double-click" << true << QRect() << QStringList();
        QTest::newRow("click") << "click" << false << QRect()
                               << QStringList{"Erro: A seleção está vazia."};
    }

    void gesturesGiveTheWindowTheRightPhoto()
    {
        QFETCH(QString, gesture);
        QFETCH(bool, wholeFrame);
        QFETCH(QRect, photo);
        QFETCH(QStringList, errors);
        QImage frame(800, 600, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x % 256, y % 256, x / 256 + (y / 256) * 4));
        control().setPicture(frame);
        control().zoomTo(2.0f);

        bool dragging = false;
        QImage confirmed;
        QStringList shownErrors;
        auto pixels = [](float twips) { return int(std::nearbyint(twips / 15.0f)); };
        connect(&control(), &ImageControl::MouseDown, this, [&](int, int, float x, float y) {
            control().selectionBand(false);
            control().selectionBand(true, pixels(x), pixels(y));
            dragging = true;
        });
        connect(&control(), &ImageControl::MouseMove, this, [&](int, int, float x, float y) {
            if (dragging)
                control().selectionBandTo(pixels(x), pixels(y));
        });
        connect(&control(), &ImageControl::MouseUp, this, [&](int, int, float, float) {
            dragging = false;
            try {
                confirmed = control().selectionImage();
            } catch (const qc::Error& error) {
                shownErrors << QStringLiteral("Erro: ") + error.description();
            }
        });
        connect(&control(), &ImageControl::DblClick, this,
                [&] { confirmed = control().picture(); });

        if (gesture == QLatin1String("drag")) {
            press(QPoint(120, 100));
            move(QPoint(80, 70));
            move(QPoint(20, 40));
            release(QPoint(20, 40));
        } else if (gesture == QLatin1String("double-click")) {
            QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(100, 100));
            doubleClickPress(QPoint(100, 100));
            release(QPoint(100, 100));
        } else {
            QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(100, 100));
            QTRY_VERIFY_WITH_TIMEOUT(!control().isHoldingClick(), holdTimeout());
        }
        QVERIFY(!control().isHoldingClick());
        QCOMPARE(shownErrors, errors);
        if (wholeFrame)
            QCOMPARE(confirmed, frame);
        else if (!photo.isNull())
            QCOMPARE(confirmed, frame.copy(photo));
        else
            QVERIFY(confirmed.isNull());
        QVERIFY(!dragging);
    }
};

QTEST_MAIN(ImageControlMouseTest)
#include "ImageControlMouseTest.moc"
