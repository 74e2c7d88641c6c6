#pragma once
// libpulse, loaded when the microphone first connects rather than linked: the library and the
// two dozen it pulls in cost every start of the program ~10 ms before main, and a system
// without it still runs the monitor (the microphone then behaves as with no sound server).
// The headers still give the types; the functions come from the table below.
//
// Threads: any thread may load; the table is immutable afterwards and may be read by any thread
// while the object lives.

#include <pulse/pulseaudio.h>

#include <memory>
#include <string>

namespace korv::os_linux {

// The file that dlopen finds in the system's library path.
inline constexpr char kPulseLibraryFile[] = "libpulse.so.0";

// The libpulse functions the microphone calls, typed as the headers declare them.
struct PulseFunctions {
    decltype(&pa_context_new) context_new;
    decltype(&pa_context_connect) context_connect;
    decltype(&pa_context_disconnect) context_disconnect;
    decltype(&pa_context_unref) context_unref;
    decltype(&pa_context_errno) context_errno;
    decltype(&pa_context_get_state) context_get_state;
    decltype(&pa_context_set_state_callback) context_set_state_callback;
    decltype(&pa_context_set_subscribe_callback) context_set_subscribe_callback;
    decltype(&pa_context_subscribe) context_subscribe;
    decltype(&pa_context_get_server_info) context_get_server_info;
    decltype(&pa_context_get_source_info_by_name) context_get_source_info_by_name;
    decltype(&pa_context_set_source_mute_by_index) context_set_source_mute_by_index;
    decltype(&pa_operation_unref) operation_unref;
};
// Nothing but the pointers: every one of them is resolved by Load.
static_assert(sizeof(PulseFunctions) == 13 * sizeof(void (*)()));

class PulseLibrary;

// What Load gives: the library with every function resolved, or none and why, in a sentence
// fit for a trace line.
struct PulseLoad {
    std::unique_ptr<PulseLibrary> library;
    std::u16string failure;
};

class PulseLibrary {
  public:
    // Opens `file` (a name dlopen looks up, or a path) and resolves every function of the
    // table. A missing library or function gives no library and a failure naming it.
    [[nodiscard]] static PulseLoad Load(const char* file = kPulseLibraryFile);
    // Closes the library (it stays mapped): whatever it created must be freed before.
    ~PulseLibrary();
    PulseLibrary(const PulseLibrary&) = delete;
    PulseLibrary& operator=(const PulseLibrary&) = delete;

    [[nodiscard]] const PulseFunctions& Functions() const { return functions_; }

  private:
    PulseLibrary(void* handle, const PulseFunctions& functions)
        : handle_(handle), functions_(functions) {}

    void* handle_;
    PulseFunctions functions_;
};

}  // namespace korv::os_linux
