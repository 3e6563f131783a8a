#include "shell/FrmImageCapture.h"

#include "ui_frmImageCapture.h"

#include "camera/CameraController.h"
#include "camera/QtCaptureLibrary.h"
#include "core/DesignFonts.h"
#include "core/Desktop.h"
#include "framing/FaceFraming.h"
#include "framing/FramingWorker.h"
#include "framing/LiveGuide.h"
#include "imaging/CropZoom.h"
#include "imaging/ImageControl.h"
#include "imaging/JpegExport.h"
#include "imaging/PictureBox.h"
#include "records/Module1.h"
#include "records/PhotoPanel.h"
#include "records/UnitList.h"
#include "settings/FrmConfig.h"
#include "settings/StationSettings.h"
#include "shell/PhotoControls.h"
#include "shell/PhotoDay.h"
#include "shell/StudentsPanel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

static void initShellResources()
{
    Q_INIT_RESOURCE(shell);
}

namespace qc {

namespace {

// Point sizes of the design that a .ui file cannot hold (it keeps whole points only).
constexpr double designFontSize = 8.25;
constexpr double largeFontSize = 9.75;

// The window's icon in its four sizes. Read as PNG by name: a reader left to guess the
// format first asks every image plugin installed whether it knows the file.
QIcon stationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256}) {
        QImageReader reader(QStringLiteral(":/icons/quvelocap-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

void setBackground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFont msSansSerif(double pointSize, bool bold)
{
    return designFont(QStringLiteral("MS Sans Serif"), pointSize, bold);
}

} // namespace

FrmImageCapture::FrmImageCapture(const StationServices& services, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::frmImageCapture), m_services(services)
{
    Q_ASSERT(m_services.desktop);
    initShellResources();
    registerDesignFontSubstitutes();
    ui->setupUi(this);
    applyDesign();

    m_cropZoom = std::make_unique<CropZoom>(
        CropZoomControls{ui->ImagXpress1, ui->ImagXpress2, ui->cmbZoom}, *m_services.desktop);
    m_jpegExport = std::make_unique<JpegExport>(ui->ImagXpress2, *m_services.desktop);

    // Without a capture library of its own the window sees no capture driver.
    if (!m_services.capture) {
        m_ownCapture = std::make_unique<QtCaptureLibrary>();
        m_services.capture = m_ownCapture.get();
    }
    m_camera = std::make_unique<CameraController>(
        CameraControls{this, ui->cmdStart, ui->cmdStop, ui->cmdSave, ui->Command2, ui->lstDevices,
                       ui->picCapture, ui->ImagXpress1},
        *m_services.capture, *m_services.desktop);
    m_camera->setClearDragFlag([crop = m_cropZoom.get()] { crop->Arrastando = false; });

    connectHandlers();
    m_services.desktop->setMainWindow(this);

    // Without a store of its own the window uses the station's settings.
    if (!m_services.settings) {
        m_ownSettings = openStationSettings();
        m_services.settings = m_ownSettings.get();
    }
    m_module1 = std::make_unique<Module1>(*m_services.desktop, *m_services.settings);
    m_module1->setShowSettingsDialog([this] { showSettingsDialog(); });

    addPhotoDay();
    setUpFraming();
}

void FrmImageCapture::setUpFraming()
{
    auto worker = [this]() -> FramingWorker& { return framingWorker(); };
    m_faceFraming = std::make_unique<FaceFraming>(
        FaceFramingControls{ui->ImagXpress1, ui->ImagXpress2, ui->lblMensagem},
        *m_services.settings, worker);
    ui->mnuEnquadrar->setChecked(m_faceFraming->isOn());
    connect(ui->mnuEnquadrar, &QAction::triggered, this, &FrmImageCapture::mnuEnquadrar_Click);

    const int side = CameraController::PreviewSize;
    m_liveGuide = std::make_unique<LiveGuide>(
        ui->picCapture, QRect(ui->picCapture->pos(), QSize(side, side)), *m_services.settings,
        worker, [camera = m_camera.get()] { return camera->previewFrame(); });
    m_autoCapture = new QAction(LiveGuide::autoCaptureText(), this);
    m_autoCapture->setObjectName(QStringLiteral("mnuCapturarAuto"));
    m_autoCapture->setCheckable(true);
    m_autoCapture->setChecked(m_liveGuide->autoCapture());
    ui->mnuArquivo->insertAction(ui->mnuSep1, m_autoCapture);
    connect(m_autoCapture, &QAction::triggered, m_liveGuide.get(), &LiveGuide::setAutoCapture);
    connect(m_liveGuide.get(), &LiveGuide::captureWanted, this, [this] {
        if (ui->cmdSave->isEnabled())
            cmdSave_Click();
    });
}

FramingWorker& FrmImageCapture::framingWorker()
{
    if (m_services.framing)
        return *m_services.framing;
    if (!m_ownFraming)
        m_ownFraming = std::make_unique<FramingWorker>();
    return *m_ownFraming;
}

void FrmImageCapture::addPhotoDay()
{
    m_photoDay = std::make_unique<PhotoDay>(PhotoDayControls{this, ui->cmbUnidade, ui->txtMatricula,
                                                             ui->lblMensagem, ui->cmdStart,
                                                             ui->cmdStop, ui->ImagXpress2},
                                            *m_module1, *m_services.settings);
    m_mnuAlunos = new QAction(QStringLiteral("Alunos da unidade"), this);
    m_mnuAlunos->setObjectName(QStringLiteral("mnuAlunos"));
    m_mnuAlunos->setCheckable(true);
    m_mnuAlunos->setChecked(m_photoDay->isShown());
    // Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y undo and redo typing in "Matricula"; Ctrl+Alt+Z is
    // free on every platform and still reads as an undo.
    m_mnuDesfazer = new QAction(QStringLiteral("Desfazer última foto"), this);
    m_mnuDesfazer->setObjectName(QStringLiteral("mnuDesfazer"));
    m_mnuDesfazer->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Z));
    m_mnuDesfazer->setShortcutContext(Qt::WindowShortcut);
    m_mnuDesfazer->setEnabled(false);
    ui->mnuArquivo->insertActions(ui->mnuSep1, {m_mnuAlunos, m_mnuDesfazer});
    addAction(m_mnuDesfazer);

    connect(m_mnuAlunos, &QAction::triggered, this, &FrmImageCapture::mnuAlunos_Click);
    connect(m_mnuDesfazer, &QAction::triggered, this, &FrmImageCapture::mnuDesfazer_Click);
    connect(m_photoDay.get(), &PhotoDay::undoAvailable, m_mnuDesfazer, &QAction::setEnabled);
    connect(ui->cmbUnidade, &QComboBox::currentIndexChanged, m_photoDay.get(),
            &PhotoDay::unitChanged);
    connect(ui->txtMatricula, &QLineEdit::returnPressed, m_photoDay.get(),
            &PhotoDay::matriculaEntered);
    if (m_photoDay->isShown())
        mnuAlunos_Click(true);
}

// The panel stands to the right of the designed area, which keeps its place and size.
void FrmImageCapture::layOutPhotoDay()
{
    const bool shown = m_photoDay->isShown();
    const int top = menuBar()->sizeHint().height();
    if (shown)
        m_photoDay->panel().setGeometry(820, top, StudentsPanel::PanelWidth, 629);
    setFixedSize(820 + (shown ? StudentsPanel::PanelWidth : 0), 629 + top);
}

void FrmImageCapture::mnuAlunos_Click(bool checked)
{
    m_photoDay->setShown(checked);
    layOutPhotoDay();
}

void FrmImageCapture::mnuDesfazer_Click()
{
    m_photoDay->undoLastPhoto();
}

FrmImageCapture::~FrmImageCapture()
{
    // Their analyses go nowhere once they are gone; then the worker may end.
    m_liveGuide.reset();
    m_faceFraming.reset();
    m_ownFraming.reset();
    if (m_services.desktop && m_services.desktop->mainWindow() == this)
        m_services.desktop->setMainWindow(nullptr);
    delete ui;
}

void FrmImageCapture::applyDesign()
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(msSansSerif(designFontSize, false));
    setBackground(this, QColor(239, 239, 239));
    setBackground(centralWidget(), QColor(239, 239, 239));

    // The window keeps its designed client area: the menu bar sits above it.
    centralWidget()->setFixedSize(820, 629);
    setFixedSize(820, 629 + menuBar()->sizeHint().height());

    ui->cmdSave->setFont(msSansSerif(designFontSize, true));
    ui->lblMensagem->setFont(msSansSerif(largeFontSize, true));
    ui->Label4->setFont(msSansSerif(largeFontSize, false));

    setBackground(ui->picCapture, QColor(128, 128, 128));
    setBackground(ui->ImagXpress1, QColor(128, 128, 128));
    setBackground(ui->ImagXpress1->viewport(), QColor(128, 128, 128));
    const QColor buttonFace = palette().color(QPalette::Button);
    setBackground(ui->ImagXpress2, buttonFace);
    setBackground(ui->ImagXpress2->viewport(), buttonFace);

    setBackground(ui->lblMensagem, QColor(192, 192, 192));
    QPalette blue = ui->Label4->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    ui->Label4->setPalette(blue);

    // Captions that size themselves to their text keep their designed top-left corner.
    for (QLabel* label : {ui->Label1, ui->Label2, ui->Label3, ui->Label4}) {
        label->setAutoFillBackground(false);
        label->resize(label->sizeHint());
    }
    for (QLabel* label : findChildren<QLabel*>())
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Enter and Escape do nothing special: no button is a default button.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    ui->txtMatricula->setMaxLength(32767);
    ui->picCapture->setFocusPolicy(Qt::NoFocus);
    ui->ImagXpress1->setFocusPolicy(Qt::StrongFocus);
    ui->ImagXpress2->setFocusPolicy(Qt::StrongFocus);
}

void FrmImageCapture::connectHandlers()
{
    connect(ui->cmdStart, &QPushButton::clicked, this, &FrmImageCapture::cmdStart_Click);
    connect(ui->cmdStop, &QPushButton::clicked, this, &FrmImageCapture::cmdStop_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &FrmImageCapture::Command2_Click);
    connect(ui->cmdSave, &QPushButton::clicked, this, &FrmImageCapture::cmdSave_Click);
    connect(ui->cmdSalvar, &QPushButton::clicked, this, &FrmImageCapture::cmdSalvar_Click);
    connect(ui->cmdVerFoto, &QPushButton::clicked, this, &FrmImageCapture::cmdVerFoto_Click);
    connect(ui->Command1, &QPushButton::clicked, this, &FrmImageCapture::Command1_Click);
    connect(ui->cmdFechar, &QPushButton::clicked, this, &FrmImageCapture::cmdFechar_Click);
    connect(ui->mnuSair, &QAction::triggered, this, &FrmImageCapture::mnuSair_Click);
    connect(ui->mnuConfig, &QAction::triggered, this, &FrmImageCapture::mnuConfig_Click);
    // activated: every choice of the operator, also of the entry already shown.
    connect(ui->cmbZoom, &QComboBox::activated, this, &FrmImageCapture::cmbZoom_Click);

    CropZoom* crop = m_cropZoom.get();
    connect(ui->ImagXpress1, &ImageControl::MouseDown, this,
            [crop](int b, int s, float x, float y) { crop->ImagXpress1_MouseDown(b, s, x, y); });
    connect(ui->ImagXpress1, &ImageControl::MouseMove, this,
            [crop](int b, int s, float x, float y) { crop->ImagXpress1_MouseMove(b, s, x, y); });
    connect(ui->ImagXpress1, &ImageControl::MouseUp, this,
            [crop](int b, int s, float x, float y) { crop->ImagXpress1_MouseUp(b, s, x, y); });
    connect(ui->ImagXpress1, &ImageControl::DblClick, this,
            [crop] { crop->ImagXpress1_DblClick(); });
}

void FrmImageCapture::Form_Load()
{
    MontarListaDispositivos();

    // The application folder and its separator, written once before the connection opens.
    m_module1->setCaminhoApp(m_services.appFolder + QLatin1Char('/'));

    if (ui->lstDevices->count() > 0) {
        ui->lstDevices->setCurrentRow(0);
    } else {
        ui->cmdStart->setEnabled(false);
        ui->lstDevices->addItem(QStringLiteral("No Device Available"));
        ui->lstDevices->setCurrentRow(-1);
    }

    // Setting the entry from code runs the zoom handler as an operator's choice would.
    ui->cmbZoom->setCurrentIndex(3);
    cmbZoom_Click();

    ui->cmdStop->setEnabled(false);
    ui->cmdSave->setEnabled(false);

    if (AbrirConexao())
        MontarComboUnidade();
}

void FrmImageCapture::Form_Unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    m_liveGuide->previewStopped();
    if (ui->cmdStop->isEnabled())
        PararPreview();
    m_services.desktop->endProgram();
}

void FrmImageCapture::closeEvent(QCloseEvent* event)
{
    // The close is never refused.
    Form_Unload();
    event->accept();
}

bool FrmImageCapture::event(QEvent* event)
{
    if (event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        QMetaObject::invokeMethod(this, &FrmImageCapture::afterFirstPaint, Qt::QueuedConnection);
    }
    return QMainWindow::event(event);
}

// What the operator does not need to see the window: its icon (the system shows the
// program's own until then) and the face model's load, which would otherwise compete
// with the window's making for the processor and the memory.
void FrmImageCapture::afterFirstPaint()
{
    setWindowIcon(stationIcon());
    if (m_services.framing && m_faceFraming->isOn())
        m_services.framing->start();
}

void FrmImageCapture::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void FrmImageCapture::cmdFechar_Click()
{
    close();
}

void FrmImageCapture::mnuSair_Click()
{
    close();
}

void FrmImageCapture::mnuConfig_Click()
{
    showSettingsDialog();
}

void FrmImageCapture::mnuEnquadrar_Click(bool checked)
{
    m_faceFraming->setOn(checked);
    m_liveGuide->setOn(checked);
}

void FrmImageCapture::showSettingsDialog()
{
    if (!m_settingsDialog)
        m_settingsDialog = new FrmConfig(
            *m_module1, [this] { MontarComboUnidade(); }, this);
    m_settingsDialog->showModeless();
}

QDialog* FrmImageCapture::settingsDialog() const
{
    return m_settingsDialog;
}

void FrmImageCapture::cmbZoom_Click()
{
    m_cropZoom->cmbZoom_Click();
}

void FrmImageCapture::cmdSalvar_Click()
{
    m_jpegExport->cmdSalvar_Click();
}

// --- Camera -----------------------------------------------------------------------

void FrmImageCapture::MontarListaDispositivos()
{
    m_camera->MontarListaDispositivos();
}

void FrmImageCapture::PararPreview()
{
    m_camera->PararPreview();
}

void FrmImageCapture::cmdStart_Click()
{
    m_camera->cmdStart_Click();
    if (m_camera->PreviewAtivo)
        m_liveGuide->previewStarted();
}

void FrmImageCapture::cmdStop_Click()
{
    m_liveGuide->previewStopped();
    m_camera->cmdStop_Click();
}

void FrmImageCapture::Command2_Click()
{
    m_liveGuide->previewStopped();
    m_camera->Command2_Click();
}

void FrmImageCapture::cmdSave_Click()
{
    m_liveGuide->previewStopped();
    m_camera->cmdSave_Click();
    m_faceFraming->afterGrab();
}

// --- Database ---------------------------------------------------------------------

bool FrmImageCapture::AbrirConexao()
{
    return m_module1->AbrirConexao();
}

void FrmImageCapture::MontarComboUnidade()
{
    // The entry's text is what the operator sees; the whole unit code rides along as
    // the entry's data, so a four-character code is never cut to three.
    class ComboList : public UnitListView
    {
    public:
        explicit ComboList(QComboBox* combo) : m_combo(combo) {}
        void clear() override { m_combo->clear(); }
        void addEntry(const QString& text, const QString& code) override
        {
            m_combo->addItem(text, code);
        }
        void selectFirst() override { m_combo->setCurrentIndex(0); }

    private:
        QComboBox* m_combo;
    } list(ui->cmbUnidade);
    UnitList::MontarComboUnidade(m_module1->cnBanco(), list);
}

void FrmImageCapture::cmdVerFoto_Click()
{
    PhotoControls controls(ui->ImagXpress2, ui->lblMensagem, ui->txtMatricula, ui->cmbUnidade);
    PhotoPanel(controls, *m_module1).cmdVerFoto_Click();
}

void FrmImageCapture::Command1_Click()
{
    // The photo stored is the one proposed for this grab, never the one before it.
    m_faceFraming->settle();
    PhotoControls controls(ui->ImagXpress2, ui->lblMensagem, ui->txtMatricula, ui->cmbUnidade);
    PhotoPanel(controls, *m_module1, m_photoDay.get()).Command1_Click();
}

} // namespace qc
