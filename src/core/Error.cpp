#include "core/Error.h"

namespace qc {

Error::Error(const QString& description)
    : std::runtime_error(description.toStdString()), m_description(description)
{}

} // namespace qc
