#include "imaging/CropZoom.h"

#include "core/Desktop.h"
#include "core/Error.h"
#include "imaging/ImageControl.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace qc {

namespace {

constexpr float zoomFactors[] = {2.0F, 1.5F, 1.25F, 1.0F, 0.75F, 0.5F, 0.25F, 0.1F};

} // namespace

CropZoom::CropZoom(const CropZoomControls& controls, Desktop& desktop, TwipsPerPixel twipsPerPixel)
    : m_controls(controls), m_desktop(desktop), m_twipsPerPixel(std::move(twipsPerPixel))
{
    if (!m_twipsPerPixel) {
        ImageControl* frame = m_controls.ImagXpress1;
        m_twipsPerPixel = [frame] {
            QScreen* screen =
                frame && frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
            if (!screen)
                return QPointF(15.0, 15.0);
            return QPointF(1440.0 / screen->logicalDotsPerInchX(),
                           1440.0 / screen->logicalDotsPerInchY());
        };
    }
}

int CropZoom::twipsToPixels(float twips, double twipsPerPixel)
{
    const auto quotient = static_cast<float>(twips / twipsPerPixel);
    // nearbyint rounds in the current mode, which is to-nearest-even by default.
    return static_cast<int>(std::nearbyint(quotient));
}

void CropZoom::ImagXpress1_MouseDown(int, int, float x, float y)
{
    m_controls.ImagXpress1->selectionBand(false);
    const QPointF tpp = m_twipsPerPixel();
    m_controls.ImagXpress1->selectionBand(true, twipsToPixels(x, tpp.x()),
                                          twipsToPixels(y, tpp.y()));
    Arrastando = true;
}

void CropZoom::ImagXpress1_MouseMove(int, int, float x, float y)
{
    if (!Arrastando)
        return;
    const QPointF tpp = m_twipsPerPixel();
    m_controls.ImagXpress1->selectionBandTo(twipsToPixels(x, tpp.x()), twipsToPixels(y, tpp.y()));
}

void CropZoom::ImagXpress1_MouseUp(int, int, float, float)
{
    Arrastando = false;
    try {
        m_controls.ImagXpress2->setImageHandle(m_controls.ImagXpress1->selectionImage());
    } catch (const Error& error) {
        m_desktop.messageBox(QStringLiteral("Erro: ") + error.description(), QString(),
                             Desktop::Icon::None);
    }
}

void CropZoom::ImagXpress1_DblClick()
{
    m_controls.ImagXpress2->setPicture(m_controls.ImagXpress1->picture());
}

void CropZoom::cmbZoom_Click()
{
    const auto index = static_cast<qint16>(m_controls.cmbZoom->currentIndex());
    if (index >= 0 && index < static_cast<int>(std::size(zoomFactors)))
        m_controls.ImagXpress1->zoomTo(zoomFactors[index]);
    else
        m_controls.ImagXpress1->fitToWindow(ImageControl::FitBestFit);
}

} // namespace qc
