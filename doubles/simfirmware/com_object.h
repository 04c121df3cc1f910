// Reference counting shared by every object the simulated firmware hands
// out. Each construction and destruction is counted in the machine file, so
// a test in any process can check that nothing was left unreleased.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace simfw {

// Objects alive in this process (for DllCanUnloadNow).
LONG LiveObjects();

// The calling thread's COM apartment as the doubles record it: "sta",
// "mta" or "none".
const char* ApartmentName();

class CountedObject {
protected:
    CountedObject();
    virtual ~CountedObject();

    ULONG AddRefCounted() { return InterlockedIncrement(&refs_); }
    ULONG ReleaseCounted()
    {
        ULONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }

private:
    LONG refs_ = 1;
};

// The class factory of every double: counts itself, refuses aggregation,
// and asks `admit` first, so that a test can make creation fail.
template <class Object>
class ClassFactory final : public IClassFactory, private CountedObject {
public:
    using Admission = HRESULT (*)();

    // Hands out a new factory as iid.
    static HRESULT Get(Admission admit, REFIID iid, void** object)
    {
        auto* factory = new (std::nothrow) ClassFactory(admit);
        if (!factory)
            return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(iid, object);
        factory->Release();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCounted(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCounted(); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (HRESULT failure = admit_())
            return failure;
        auto* created = new (std::nothrow) Object;
        if (!created)
            return E_OUTOFMEMORY;
        HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    explicit ClassFactory(Admission admit) : admit_(admit) {}
    Admission admit_;
};

} // namespace simfw
