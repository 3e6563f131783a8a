#pragma once

#include <QString>
#include <stdexcept>

namespace qc {

// The one exception type of the station. It carries the description text that the
// failing library or driver gave, because the windows show that text to the operator
// ("Erro: " + description) and compare it (a restart on a known server message).
class Error : public std::runtime_error
{
public:
    explicit Error(const QString& description);

    const QString& description() const noexcept { return m_description; }

private:
    QString m_description;
};

} // namespace qc
