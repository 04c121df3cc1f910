// Move-only owners for COM interfaces, BSTRs, VARIANTs, SAFEARRAYs and
// apartments, so that every path out of a function releases what it got.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* raw) : ptr_(raw) {}
    ~ComPtr() { Reset(); }

    ComPtr(ComPtr&& other) noexcept : ptr_(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            Reset();
            ptr_ = other.Detach();
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For out-parameters: releases what is held first.
    T** Put()
    {
        Reset();
        return &ptr_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    T* Detach() { return std::exchange(ptr_, nullptr); }

    // Returns what the final Release returned, so callers can check for 0.
    ULONG Reset()
    {
        ULONG count = 0;
        if (ptr_)
            count = std::exchange(ptr_, nullptr)->Release();
        return count;
    }

private:
    T* ptr_ = nullptr;
};

class ScopedBstr {
public:
    ScopedBstr() = default;
    explicit ScopedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}
    ~ScopedBstr() { SysFreeString(bstr_); }

    ScopedBstr(ScopedBstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    ScopedBstr& operator=(ScopedBstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(bstr_);
            bstr_ = std::exchange(other.bstr_, nullptr);
        }
        return *this;
    }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;

    BSTR Get() const { return bstr_; }
    explicit operator bool() const { return bstr_ != nullptr; }

private:
    BSTR bstr_ = nullptr;
};

class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&var_); }
    ~ScopedVariant() { VariantClear(&var_); }

    ScopedVariant(ScopedVariant&& other) noexcept : var_(other.var_) { VariantInit(&other.var_); }
    ScopedVariant& operator=(ScopedVariant&& other) noexcept
    {
        if (this != &other) {
            VariantClear(&var_);
            var_ = other.var_;
            VariantInit(&other.var_);
        }
        return *this;
    }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* Get() { return &var_; }
    const VARIANT& operator*() const { return var_; }
    const VARIANT* operator->() const { return &var_; }
    void Clear() { VariantClear(&var_); }

private:
    VARIANT var_;
};

class ScopedSafeArray {
public:
    ScopedSafeArray() = default;
    explicit ScopedSafeArray(SAFEARRAY* array) : array_(array) {}
    ~ScopedSafeArray() { Reset(); }

    ScopedSafeArray(ScopedSafeArray&& other) noexcept : array_(other.Detach()) {}
    ScopedSafeArray& operator=(ScopedSafeArray&& other) noexcept
    {
        if (this != &other) {
            Reset();
            array_ = other.Detach();
        }
        return *this;
    }
    ScopedSafeArray(const ScopedSafeArray&) = delete;
    ScopedSafeArray& operator=(const ScopedSafeArray&) = delete;

    SAFEARRAY* Get() const { return array_; }
    explicit operator bool() const { return array_ != nullptr; }
    SAFEARRAY* Detach() { return std::exchange(array_, nullptr); }
    void Reset()
    {
        if (array_)
            SafeArrayDestroy(std::exchange(array_, nullptr));
    }

private:
    SAFEARRAY* array_ = nullptr;
};

// One CoInitialize/CoInitializeEx and its CoUninitialize. A failed
// initialisation (RPC_E_CHANGED_MODE on a thread already in another
// apartment) is not paired: uninitialising would tear down the caller's.
class ScopedComApartment {
public:
    explicit ScopedComApartment(HRESULT initResult) : result_(initResult) {}
    ~ScopedComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ScopedComApartment(ScopedComApartment&& other) noexcept
        : result_(std::exchange(other.result_, E_FAIL)) {}
    ScopedComApartment& operator=(ScopedComApartment&&) = delete;
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;

    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};
