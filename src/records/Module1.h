#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace qc {

class Connection;
class Desktop;
class SettingsStore;

// The station's shared database state: the one connection cnBanco and the procedure
// that opens it from the stored settings. The settings dialog is reached through the
// function the window hands in, because this layer knows no window.
class Module1
{
public:
    Module1(Desktop& desktop, SettingsStore& settings);
    ~Module1();

    // Shown (modeless, owned by the capture window) when no server is stored.
    void setShowSettingsDialog(std::function<void()> show)
    {
        m_showSettingsDialog = std::move(show);
    }

    // Opens a new cnBanco from the stored settings; false when none is stored (the
    // settings dialog is shown instead) or when the open fails (the operator is told).
    bool AbrirConexao();

    // A new cnBanco from the stored settings, without a word to the operator: the photo
    // procedures call it once when the connection they worked on was lost. Throws the
    // open's DatabaseError (cnBanco then stays as it was).
    std::shared_ptr<Connection> reconnect();

    const std::shared_ptr<Connection>& cnBanco() const { return m_cnBanco; }
    void setCnBanco(std::shared_ptr<Connection> connection) { m_cnBanco = std::move(connection); }

    // The application folder followed by the separator, written once at start-up.
    const QString& CaminhoApp() const { return m_caminhoApp; }
    void setCaminhoApp(const QString& folder) { m_caminhoApp = folder; }

    Desktop& desktop() const { return m_desktop; }
    SettingsStore& settings() const { return m_settings; }

private:
    Desktop& m_desktop;
    SettingsStore& m_settings;
    std::function<void()> m_showSettingsDialog;
    std::shared_ptr<Connection> m_cnBanco;
    QString m_caminhoApp;
};

} // namespace qc
