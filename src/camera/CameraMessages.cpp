#include "camera/CameraMessages.h"

namespace qc {

namespace {

QString withReason(QString text, const CaptureError& error)
{
    if (!error.reason.isEmpty())
        text += QStringLiteral("\n\nMotivo informado pelo driver: ") + error.reason;
    return text;
}

} // namespace

QString cameraOpenFailureText(const CaptureError& error)
{
    QString text = QStringLiteral("Não foi possível abrir a câmera");
    switch (error.kind) {
    case CaptureError::Kind::Absent:
        text += QStringLiteral(": nenhuma câmera foi escolhida em Dispositivos.");
        break;
    case CaptureError::Kind::Busy:
        text += QStringLiteral(": ela está sendo usada por outro programa.");
        break;
    case CaptureError::Kind::Denied:
        text += QStringLiteral(": este usuário não tem permissão para usá-la.");
        break;
    case CaptureError::Kind::Unsupported:
        text += QStringLiteral(": ela não oferece um formato de imagem que a estação saiba ler.");
        break;
    case CaptureError::Kind::Gone:
        text += QStringLiteral(": ela não está mais conectada.");
        break;
    case CaptureError::Kind::Privacy:
        text += QStringLiteral(": a configuração de privacidade do Windows não deixa programas "
                               "da área de trabalho usarem a câmera. Para permitir, abra "
                               "Configurações > Privacidade > Câmera e ative o acesso à câmera "
                               "para aplicativos da área de trabalho.");
        break;
    case CaptureError::Kind::None:
    case CaptureError::Kind::Failed:
        text += QLatin1Char('.');
        break;
    }
    return withReason(text, error);
}

QString cameraStreamEndedText(const CaptureError& error)
{
    return withReason(
        error.kind == CaptureError::Kind::Gone
            ? QStringLiteral("A câmera foi desconectada e a visualização foi encerrada.")
            : QStringLiteral("A câmera parou de enviar imagens e a visualização foi encerrada."),
        error);
}

} // namespace qc
