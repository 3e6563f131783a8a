#pragma once

// The station of a photo day for the window tests: the real capture window with the
// test-pattern camera, on a real database (the suites run once on SQLite and once on the
// PostgreSQL test server), and what the operator does to it.

#include "camera/QtCaptureLibrary.h"
#include "camera/TestPatternDriver.h"
#include "common/RecordingDesktop.h"
#include "imaging/ImageControl.h"
#include "records/Connection.h"
#include "records/DatabaseFixture.h"
#include "records/MemorySettings.h"
#include "records/PhotoTestKit.h"
#include "records/StudentRoster.h"
#include "shell/FrmImageCapture.h"
#include "shell/PhotoDay.h"
#include "shell/StudentsPanel.h"
#include "ui_frmImageCapture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace photoday {

using namespace phototest;
using qc::FrmImageCapture;

inline const QString kUnit = QStringLiteral("12");
inline const QString kSaved = QStringLiteral("Foto salva com sucesso");

class PhotoDayStation : public QObject
{
protected:
    std::unique_ptr<DatabaseFixture> m_db;
    std::shared_ptr<qc::Connection> m_cn;
    std::unique_ptr<QTemporaryDir> m_appDir;
    std::unique_ptr<RecordingDesktop> m_desktop;
    std::unique_ptr<MemorySettings> m_settings;
    std::unique_ptr<qc::QtCaptureLibrary> m_library;
    std::unique_ptr<FrmImageCapture> m_window;

    // The students of unit 12 (and a neighbour unit's), with photos where given.
    void addStudents(const QList<std::pair<QString, bool>>& students)
    {
        quint32 seed = 1;
        for (const auto& [enrolment, withPhoto] : students)
            insertStudent(*m_cn, kUnit, enrolment,
                          withPhoto ? QVariant(jpeg(pattern(24, 32, ++seed))) : QVariant());
    }

    FrmImageCapture& startStation(bool panelShown = true, const QString& nameColumn = {})
    {
        m_desktop = std::make_unique<RecordingDesktop>();
        m_settings = std::make_unique<MemorySettings>();
        m_settings->values = {{"srv", m_db->server()},
                              {"db", m_db->database()},
                              {"us", m_db->user()},
                              {"pw", m_db->password()},
                              {"enquadrar", "0"}};
        if (panelShown)
            m_settings->values.insert(QStringLiteral("alunos"), QStringLiteral("1"));
        if (!nameColumn.isNull())
            m_settings->values.insert(QStringLiteral("nome"), nameColumn);
        m_library = std::make_unique<qc::QtCaptureLibrary>();
        m_library->addDriver(std::make_unique<qc::TestPatternDriver>());
        qc::StationServices services;
        services.desktop = m_desktop.get();
        services.settings = m_settings.get();
        services.capture = m_library.get();
        services.appFolder = m_appDir->path();
        m_window = std::make_unique<FrmImageCapture>(services);
        m_window->Form_Load();
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("window not exposed");
        roster().finishLoading();
        return *m_window;
    }

    qc::PhotoDay& day() const { return m_window->photoDay(); }
    qc::StudentsPanel& panel() const { return day().panel(); }
    qc::StudentRoster& roster() const { return day().roster(); }
    const Ui::frmImageCapture& ui() const { return m_window->controls(); }

    QStringList listed() const
    {
        QStringList rows;
        const QAbstractItemModel* model = panel().list()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            rows.append(model->index(row, 0).data().toString());
        return rows;
    }

    // The operator clicks the student's line in the list.
    void clickStudent(const QString& enrolment)
    {
        QListView* list = panel().list();
        const QAbstractItemModel* model = list->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (index.data(qc::StudentRoster::EnrolmentRole).toString() != enrolment)
                continue;
            list->scrollTo(index);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(index).center());
            return;
        }
        QFAIL(qPrintable(QStringLiteral("%1 is not listed").arg(enrolment)));
    }

    // A grab of the test pattern, cut by a drag, as the operator confirms a photo.
    void grabAndCrop()
    {
        if (!ui().cmdSave->isEnabled())
            QTest::mouseClick(ui().cmdStart, Qt::LeftButton);
        QVERIFY(ui().cmdSave->isEnabled());
        QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
        QVERIFY(ui().ImagXpress1->isVisible());
        QWidget* vp = ui().ImagXpress1->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mouseMove(vp, QPoint(200, 150));
        QTest::mouseMove(vp, QPoint(220, 210));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(220, 210));
        QTRY_VERIFY(ui().ImagXpress2->hasImage());
    }

    QByteArray storedBytes(const QString& enrolment) const
    {
        return photoOf(m_cn, kUnit, enrolment).toByteArray();
    }

    void setUpDatabase()
    {
        QFETCH_GLOBAL(QString, engine);
        m_db = std::make_unique<DatabaseFixture>(engine);
        m_cn = m_db->connect();
        m_db->createTables(*m_cn);
        for (const auto& [code, name] :
             {std::pair{"12", "Escola Doze"}, std::pair{"13", "Escola Treze"}})
            m_cn->execute(QStringLiteral("INSERT INTO bas_unidades VALUES (?, ?)"),
                          {QString::fromUtf8(code), QString::fromUtf8(name)});
        m_appDir = std::make_unique<QTemporaryDir>();
    }

    void tearDown()
    {
        m_window.reset();
        m_library.reset();
        m_desktop.reset();
        m_cn.reset();
        m_db.reset();
    }
};

} // namespace photoday
