#pragma once

#include "camera/CaptureError.h"

#include <QtGlobal>

#include <utility>

namespace qc {

// What a camera operation gives back: its value, or why it failed (the kind the station
// explains to the operator, and the driver's own reason). Every failure of the camera
// subsystem travels this one way, from the device call up to the handler that tells
// the operator.
template <class T> class CameraResult
{
public:
    CameraResult(T value) : m_value(std::move(value)) {}         // NOLINT: implicit, as a value is
    CameraResult(CaptureError error) : m_error(std::move(error)) // NOLINT: implicit, as an error is
    {
        if (m_error.kind == CaptureError::Kind::None)
            m_error.kind = CaptureError::Kind::Failed;
    }

    bool ok() const { return m_error.kind == CaptureError::Kind::None; }
    explicit operator bool() const { return ok(); }

    const T& value() const
    {
        Q_ASSERT(ok());
        return m_value;
    }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }
    T valueOr(T fallback) const { return ok() ? m_value : std::move(fallback); }
    const CaptureError& error() const { return m_error; }

private:
    T m_value{};
    CaptureError m_error;
};

// An operation with nothing to give back but its success.
template <> class CameraResult<void>
{
public:
    CameraResult() = default;
    CameraResult(CaptureError error) : m_error(std::move(error)) // NOLINT: implicit, as an error is
    {
        if (m_error.kind == CaptureError::Kind::None)
            m_error.kind = CaptureError::Kind::Failed;
    }

    bool ok() const { return m_error.kind == CaptureError::Kind::None; }
    explicit operator bool() const { return ok(); }
    const CaptureError& error() const { return m_error; }

private:
    CaptureError m_error;
};

using CameraStatus = CameraResult<void>;

} // namespace qc
