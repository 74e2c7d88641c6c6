#pragma once
// Owners for the component object library: a COM interface pointer released once, and the
// library's initialisation on the calling thread, undone on that thread.

#include <objbase.h>

#include <utility>

namespace korv::win32 {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(T* object) : object_(object) {}
    ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { Reset(); }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    // Releases what it holds and hands out its slot for a call that returns a new reference.
    T** Put() {
        Reset();
        return &object_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (object_ != nullptr)
            std::exchange(object_, nullptr)->Release();
    }

  private:
    T* object_ = nullptr;
};

// COM on the thread that creates this object, for as long as it lives; destroy it on the same
// thread. A thread already initialised in another apartment model can still use COM.
class ComApartment {
  public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED)
        : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    [[nodiscard]] bool Usable() const {
        return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE;
    }

  private:
    HRESULT result_;
};

}  // namespace korv::win32
