#include "records/PhotoPanel.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "records/Module1.h"
#include "records/UnitList.h"

namespace qc {

const QString PhotoPanel::Tabela = QStringLiteral("Aca_FichaCadastralAluno");
const QString PhotoPanel::CampoFoto = QStringLiteral("foto");
const QString PhotoPanel::CampoChave = QStringLiteral("matricula");

PhotoPanel::PhotoPanel(PhotoPanelView& view, Module1& module, PhotoStoreObserver* observer)
    : m_view(view), m_module(module), m_observer(observer),
      m_records(module, [&view](const QString& text) { view.setMensagem(text); })
{}

bool PhotoPanel::matriculaMissing() const
{
    if (!m_view.matricula().trimmed().isEmpty())
        return false;
    m_module.desktop().messageBox(QStringLiteral("Informe a matricula do aluno!"), QString(),
                                  Desktop::Icon::Information);
    return true;
}

QString PhotoPanel::unidade() const
{
    return UnitList::codeOfEntry(m_view.unitEntryText(), m_view.unitEntryCode());
}

void PhotoPanel::Command1_Click()
{
    if (matriculaMissing())
        return;

    QByteArray photo;
    try {
        photo = m_view.encodeJpeg();
    } catch (const Error& error) {
        m_view.setMensagem(QStringLiteral("Erro: ") + error.description());
        return;
    }
    const QString unit = unidade();
    const QString enrolment = m_view.matricula();
    if (m_observer && !m_observer->aboutToStore(unit, enrolment))
        return;
    if (m_records.GravarFoto(Tabela, CampoFoto,
                             QStringLiteral("codigounidade = ? and matricula = ?"),
                             {unit, enrolment}, photo) &&
        m_observer)
        m_observer->stored(unit, enrolment, photo);
}

void PhotoPanel::cmdVerFoto_Click()
{
    if (matriculaMissing())
        return;
    m_records.LerFoto(Tabela, CampoFoto, CampoChave, m_view.matricula(), m_view, unidade());
}

} // namespace qc
