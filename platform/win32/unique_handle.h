#pragma once
// Move-only owners of the platform's handles: each releases what it holds once, with the call
// that belongs to its kind. `UniqueResource<Traits>` is the one template; a kind is a small
// traits struct that names the value type, its empty value, how to tell a held value and how to
// release it. A traits object with state (function pointers bound at run time) travels with the
// owner.

#include <windows.h>

#include <utility>

namespace korv::win32 {

// The common case: a pointer-like handle whose empty value is null.
template <typename T>
struct NullIsEmpty {
    using Value = T;
    static constexpr Value Empty() { return nullptr; }
    static bool Holds(Value value) { return value != nullptr; }
};

template <typename Traits>
class UniqueResource : private Traits {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value, Traits traits = {})
        : Traits(std::move(traits)), value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept
        : Traits(static_cast<Traits&&>(other)), value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
            static_cast<Traits&>(*this) = static_cast<Traits&&>(other);
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { Reset(); }

    [[nodiscard]] bool Valid() const { return Traits::Holds(value_); }
    explicit operator bool() const { return Valid(); }
    [[nodiscard]] Value Get() const { return value_; }

    // Releases what is held and takes `value`.
    void Reset(Value value = Traits::Empty()) {
        if (Valid())
            Traits::Close(value_);
        value_ = value;
    }
    // Gives up ownership without releasing.
    [[nodiscard]] Value Release() { return std::exchange(value_, Traits::Empty()); }
    // For a call that returns the handle through a pointer: releases what is held first. A
    // failed call may leave garbage there, so callers give it up with Release() after a failure
    // (Reset() would close it).
    [[nodiscard]] Value* Receive() {
        Reset();
        return &value_;
    }

  private:
    Value value_ = Traits::Empty();
};

// A kernel handle. CreateFileW reports failure as INVALID_HANDLE_VALUE, most other calls as
// null; neither is closed.
struct KernelHandleTraits {
    using Value = HANDLE;
    static constexpr Value Empty() { return nullptr; }
    static bool Holds(Value value) { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void Close(Value value) { CloseHandle(value); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

struct ModuleTraits : NullIsEmpty<HMODULE> {
    static void Close(HMODULE module) { FreeLibrary(module); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

struct WindowTraits : NullIsEmpty<HWND> {
    static void Close(HWND window) { DestroyWindow(window); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

struct IconTraits : NullIsEmpty<HICON> {
    static void Close(HICON icon) { DestroyIcon(icon); }
};
using UniqueIcon = UniqueResource<IconTraits>;

}  // namespace korv::win32
