#include "platform/fake/fake_hook_library.h"

#include <cstring>

namespace korv::fake {
namespace {

constexpr std::uintptr_t kWmKeyDown = 0x0100;
constexpr std::uintptr_t kWmKeyUp = 0x0101;

FakeHookLibrary* active_library = nullptr;

class FakeLoadedLibrary : public DynamicLibrary {
  public:
    explicit FakeLoadedLibrary(FakeHookLibrary& library) : library_(library) { library_.Loaded(); }
    ~FakeLoadedLibrary() override { library_.Unloaded(); }
    LibraryProc FindProc(const char* name) const override { return library_.FindProc(name); }

  private:
    FakeHookLibrary& library_;
};

}  // namespace

FakeHookLibrary::FakeHookLibrary() {
    active_library = this;
}

FakeHookLibrary::~FakeHookLibrary() {
    if (active_library == this)
        active_library = nullptr;
}

LibraryProc FakeHookLibrary::FindProc(const char* name) const {
    if (missing_exports.contains(name))
        return nullptr;
    if (std::strcmp(name, kEnableKeyboardHookExport) == 0)
        return reinterpret_cast<LibraryProc>(&EnableKeyboardHook);
    if (std::strcmp(name, kDisableKeyboardHookExport) == 0)
        return reinterpret_cast<LibraryProc>(&DisableKeyboardHook);
    if (std::strcmp(name, kEnableMouseHookExport) == 0)
        return reinterpret_cast<LibraryProc>(&EnableMouseHook);
    if (std::strcmp(name, kDisableMouseHookExport) == 0)
        return reinterpret_cast<LibraryProc>(&DisableMouseHook);
    return nullptr;
}

void FakeHookLibrary::Loaded() {
    calls.push_back("load");
    loaded = true;
}

void FakeHookLibrary::Unloaded() {
    calls.push_back("unload");
    loaded = false;
    if (KeyboardHookInstalled() || MouseHookInstalled())
        hook_installed_at_unload = true;
}

void FakeHookLibrary::EnableKeyboardHook(THookCallback callback, void* context, std::int32_t) {
    active_library->calls.push_back(kEnableKeyboardHookExport);
    active_library->keyboard_ = {callback, context};
}

void FakeHookLibrary::DisableKeyboardHook() {
    active_library->calls.push_back(kDisableKeyboardHookExport);
    active_library->keyboard_ = {};
}

void FakeHookLibrary::EnableMouseHook(THookCallback callback, void* context, std::int32_t) {
    active_library->calls.push_back(kEnableMouseHookExport);
    active_library->mouse_ = {callback, context};
}

void FakeHookLibrary::DisableMouseHook() {
    active_library->calls.push_back(kDisableMouseHookExport);
    active_library->mouse_ = {};
}

std::optional<bool> FakeHookLibrary::Deliver(const Slot& slot, std::int32_t nCode,
                                             std::uintptr_t message, const void* record) {
    if (slot.callback == nullptr)
        return std::nullopt;
    std::int32_t blocked = 0;
    slot.callback(slot.context, nCode, message, reinterpret_cast<std::intptr_t>(record), &blocked);
    return blocked != 0;
}

std::optional<bool> FakeHookLibrary::SendKey(const TKBDLLHOOKSTRUCT& key, std::int32_t nCode) {
    const std::uintptr_t message = (key.flags & kKeyFlagUp) != 0 ? kWmKeyUp : kWmKeyDown;
    return Deliver(keyboard_, nCode, message, &key);
}

std::optional<bool> FakeHookLibrary::SendMouse(std::uint32_t message,
                                               const TMSLLHOOKSTRUCT& mouse) {
    return Deliver(mouse_, 0, message, &mouse);
}

LibraryLoad FakeLibraryLoader::Load(std::u16string_view path) {
    requested.emplace_back(path);
    if (path != path_)
        return {nullptr, refusal.failure, refusal.error};
    return {std::make_unique<FakeLoadedLibrary>(library_)};
}

}  // namespace korv::fake
