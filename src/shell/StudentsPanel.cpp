#include "shell/StudentsPanel.h"

#include "records/StudentRoster.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace qc {

namespace {
constexpr QSize photoSize(120, 150);
}

StudentsPanel::StudentsPanel(StudentRoster& roster, QWidget* parent)
    : QWidget(parent), m_roster(roster), m_proxy(new QSortFilterProxyModel(this)),
      m_counts(new QLabel(this)), m_filter(new QLineEdit(this)), m_list(new QListView(this)),
      m_photo(new QLabel(this)), m_name(new QLabel(this)), m_status(new QLabel(this)),
      m_advance(new QCheckBox(QStringLiteral("Ir para o próximo aluno sem foto"), this))
{
    setObjectName(QStringLiteral("StudentsPanel"));
    setAccessibleName(QStringLiteral("Alunos da unidade"));
    m_proxy->setSourceModel(&roster);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_list->setModel(m_proxy);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true); // thousands of rows lay out at once
    m_list->setAccessibleName(QStringLiteral("Alunos da unidade"));
    m_filter->setPlaceholderText(QStringLiteral("Filtrar"));
    m_filter->setAccessibleName(QStringLiteral("Filtrar"));
    m_filter->setClearButtonEnabled(true);
    m_photo->setFixedSize(photoSize);
    m_photo->setAlignment(Qt::AlignCenter);
    m_photo->setFrameShape(QFrame::Box);
    m_name->setWordWrap(true);
    m_status->setWordWrap(true);
    m_advance->setChecked(true);

    auto* title = new QLabel(QStringLiteral("Alunos da unidade"), this);
    auto* photoTitle = new QLabel(QStringLiteral("Foto atual"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(title);
    layout->addWidget(m_counts);
    layout->addWidget(m_filter);
    layout->addWidget(m_list, 1);
    layout->addWidget(photoTitle);
    layout->addWidget(m_photo, 0, Qt::AlignHCenter);
    layout->addWidget(m_name);
    layout->addWidget(m_advance);
    layout->addWidget(m_status);
    clearCurrentPhoto();

    // Pages still to come are filtered as they arrive.
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_choosing = true;
        m_proxy->setFilterFixedString(text);
        m_choosing = false;
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                // Only the operator's own choice counts: rows that a filter or a reload
                // takes away move the current row too.
                if (!m_choosing && current.isValid() && m_list->hasFocus())
                    emit studentChosen(current.data(StudentRoster::EnrolmentRole).toString());
            });
    connect(&roster, &StudentRoster::countsChanged, this, &StudentsPanel::updateCounts);
    connect(&roster, &StudentRoster::failed, this, &StudentsPanel::setStatus);
    connect(&roster, &QAbstractItemModel::modelReset, this, [this] { setStatus(QString()); });
    updateCounts();
}

void StudentsPanel::updateCounts()
{
    m_counts->setText(m_roster.countsText());
}

QString StudentsPanel::chosen() const
{
    const QModelIndex current = m_list->currentIndex();
    return current.isValid() ? current.data(StudentRoster::EnrolmentRole).toString() : QString();
}

bool StudentsPanel::choose(const QString& enrolment)
{
    int row = m_roster.rowOf(enrolment);
    if (row < 0 && m_roster.loading()) {
        m_roster.finishLoading();
        row = m_roster.rowOf(enrolment);
    }
    m_choosing = true;
    QModelIndex shown;
    if (row >= 0) {
        shown = m_proxy->mapFromSource(m_roster.index(row));
        if (!shown.isValid()) {
            m_filter->clear();
            shown = m_proxy->mapFromSource(m_roster.index(row));
        }
    }
    m_list->setCurrentIndex(shown);
    if (shown.isValid())
        m_list->scrollTo(shown);
    m_choosing = false;
    return shown.isValid();
}

void StudentsPanel::showCurrentPhoto(const QImage& photo, const QString& name)
{
    if (photo.isNull()) {
        m_photo->setPixmap(QPixmap());
        m_photo->setText(QStringLiteral("Sem foto cadastrada"));
    } else {
        m_photo->setText(QString());
        m_photo->setPixmap(QPixmap::fromImage(
            photo.scaled(photoSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    m_name->setText(name);
}

void StudentsPanel::clearCurrentPhoto()
{
    m_photo->setPixmap(QPixmap());
    m_photo->setText(QString());
    m_name->clear();
}

void StudentsPanel::setStatus(const QString& text)
{
    m_status->setText(text.isEmpty() ? QString() : QStringLiteral("Erro: ") + text);
}

} // namespace qc
