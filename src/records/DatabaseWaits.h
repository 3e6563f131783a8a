#pragma once

#include "records/ProviderConnection.h"

#include <QtGlobal>

#include <memory>

namespace qc {

// The time a thread has spent in the database's hands: connecting, and every statement,
// transaction step and store, from the call to its return. The photo-day benchmark's probe
// takes it out of the UI thread's stalls, which are then the station's own.
namespace DatabaseWaits {

// This thread's total since it began, in nanoseconds.
qint64 threadTotalNs();

// Adds its own lifetime to this thread's total.
class Scope
{
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    qint64 m_start;
};

// The engine's connection with every call counted.
std::unique_ptr<ProviderConnection> counted(std::unique_ptr<ProviderConnection> engine);

} // namespace DatabaseWaits

} // namespace qc
