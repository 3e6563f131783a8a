#pragma once

#include <windows.h>

#include <mfidl.h>
#include <mfobjects.h>

#include <QString>

#include <functional>
#include <utility>

namespace qc {

// COM and Media Foundation, started for as long as an object of this lives on the
// thread that made it. Media Foundation counts its starts; COM keeps a thread's first
// choice of apartment (the UI thread's is Qt's), which is fine for every call here.
class MfSession
{
public:
    explicit MfSession(DWORD apartment = COINIT_APARTMENTTHREADED);
    ~MfSession();
    MfSession(const MfSession&) = delete;
    MfSession& operator=(const MfSession&) = delete;

    // The HRESULT of MFStartup: failed when Media Foundation is not there (Windows N
    // without its media pack).
    HRESULT status() const { return m_started; }

private:
    HRESULT m_com = E_FAIL;
    HRESULT m_started = E_FAIL;
};

// Holds one COM reference and lets it go.
template <class T> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For a call that hands back a new reference.
    T** put()
    {
        reset();
        return &m_p;
    }
    void reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }
    // Another interface of the same object; empty when it has none.
    template <class U> ComPtr<U> as(REFIID iid) const
    {
        ComPtr<U> other;
        if (m_p)
            m_p->QueryInterface(iid, reinterpret_cast<void**>(other.put()));
        return other;
    }

private:
    T* m_p = nullptr;
};

// Media Foundation's video capture sources, each handed to visit, which takes a
// reference of its own (AddRef) to keep one. The HRESULT of the listing.
HRESULT visitVideoSources(const std::function<void(IMFActivate*)>& visit);
// A text attribute of a source (its friendly name, its symbolic link); empty if none.
QString sourceText(IMFActivate* source, REFGUID key);

} // namespace qc
