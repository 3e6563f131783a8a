#include "records/PhotoPanel.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "records/Module1.h"
#include "records/UnitList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qc {

const QString PhotoPanel::Tabela = QStringLiteral("Aca_FichaCadastralAluno");
const QString PhotoPanel::CampoFoto = QStringLiteral("foto");
const QString PhotoPanel::CampoChave = QStringLiteral("matricula");

PhotoPanel::PhotoPanel(PhotoPanelView& view, Module1& module)
    : m_view(view), m_module(module),
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

    // A photo that cannot be put in the work file is never replaced by whatever an
    // earlier store left there: the old file goes first, and the new one must exist.
    const QString path = m_records.workFilePath();
    try {
        QFile old(path);
        if (old.exists() && !old.remove())
            throw Error(QStringLiteral("Não foi possível apagar o arquivo \"%1\": %2")
                            .arg(QDir::toNativeSeparators(path), old.errorString()));
        m_view.saveAsJpeg(path);
        if (!QFileInfo::exists(path))
            throw Error(QStringLiteral("A foto não foi gravada no arquivo \"%1\".")
                            .arg(QDir::toNativeSeparators(path)));
    } catch (const Error& error) {
        m_view.setMensagem(QStringLiteral("Erro: ") + error.description());
        return;
    }

    const QString unit = unidade();
    const QString enrolment = m_view.matricula();
    m_records.GravarFoto(Tabela, CampoFoto, QStringLiteral("codigounidade = ? and matricula = ?"),
                         {unit, enrolment}, path);
}

void PhotoPanel::cmdVerFoto_Click()
{
    if (matriculaMissing())
        return;
    m_records.LerFoto(Tabela, CampoFoto, CampoChave, m_view.matricula(), m_view, unidade());
}

} // namespace qc
