#include "platform/linux/pulse_library.h"

#include <dlfcn.h>

#include "platform/linux/utf8_text.h"

namespace korv::os_linux {
namespace {

// The handle closes with the object that holds it, unless released to a PulseLibrary.
struct HandleCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, HandleCloser>;

// Sets `function` to the library's `name`; the name of the first one missing stays in `missing`.
template <typename Function>
void Resolve(void* handle, const char* name, Function& function, std::string& missing) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (function == nullptr && missing.empty())
        missing = name;
}

// Every function of the table, or the name of the first that the library lacks.
std::string ResolveAll(void* handle, PulseFunctions& f) {
    std::string missing;
    Resolve(handle, "pa_context_new", f.context_new, missing);
    Resolve(handle, "pa_context_connect", f.context_connect, missing);
    Resolve(handle, "pa_context_disconnect", f.context_disconnect, missing);
    Resolve(handle, "pa_context_unref", f.context_unref, missing);
    Resolve(handle, "pa_context_errno", f.context_errno, missing);
    Resolve(handle, "pa_context_get_state", f.context_get_state, missing);
    Resolve(handle, "pa_context_set_state_callback", f.context_set_state_callback, missing);
    Resolve(handle, "pa_context_set_subscribe_callback", f.context_set_subscribe_callback, missing);
    Resolve(handle, "pa_context_subscribe", f.context_subscribe, missing);
    Resolve(handle, "pa_context_get_server_info", f.context_get_server_info, missing);
    Resolve(handle, "pa_context_get_source_info_by_name", f.context_get_source_info_by_name,
            missing);
    Resolve(handle, "pa_context_set_source_mute_by_index", f.context_set_source_mute_by_index,
            missing);
    Resolve(handle, "pa_operation_unref", f.operation_unref, missing);
    return missing;
}

}  // namespace

PulseLoad PulseLibrary::Load(const char* file) {
    const std::u16string library = u"The sound library " + Utf16FromUtf8(file);
    // Never unmapped once loaded: what libpulse and the libraries it pulls in allocate once for
    // the process, and their thread-local destructors, stay valid after the last close.
    LibraryHandle handle(dlopen(file, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle) {
        const char* reason = dlerror();
        return {nullptr, library + u" cannot be loaded: " +
                             Utf16FromUtf8(reason != nullptr ? reason : "unknown error")};
    }
    PulseFunctions functions{};
    const std::string missing = ResolveAll(handle.get(), functions);
    if (!missing.empty())
        return {nullptr, library + u" lacks " + Utf16FromUtf8(missing)};
    return {std::unique_ptr<PulseLibrary>(new PulseLibrary(handle.release(), functions)), {}};
}

PulseLibrary::~PulseLibrary() {
    dlclose(handle_);
}

}  // namespace korv::os_linux
