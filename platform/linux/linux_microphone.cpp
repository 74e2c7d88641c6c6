#include "platform/linux/linux_microphone.h"

#include <pulse/error.h>

#include <algorithm>
#include <utility>

#include "platform/linux/linux_main_loop.h"
#include "platform/linux/utf8_text.h"
#include "ports/debug_output.h"

namespace korv::os_linux {
namespace {

// The first wait after a loss; it doubles with each failed attempt up to kLongestRetryDelay.
constexpr std::chrono::milliseconds kFirstRetryDelay{50};

// What a press changes nothing for says why, once per press.
constexpr std::u16string_view kNotConnected =
    u"The sound server is not connected; the microphone mute is not toggled";
constexpr std::u16string_view kNoDefaultMicrophone =
    u"No default microphone; the microphone mute is not toggled";
constexpr std::u16string_view kCannotReadOrSet = u"Microphone mute cannot be read or set";

LinuxMicrophone* Self(void* self) {
    return static_cast<LinuxMicrophone*>(self);
}

}  // namespace

void LinuxMicrophone::ContextDeleter::operator()(pa_context* context) const {
    pulse->context_set_state_callback(context, nullptr, nullptr);
    pulse->context_set_subscribe_callback(context, nullptr, nullptr);
    // Pending requests are cancelled: their callbacks never run.
    pulse->context_disconnect(context);
    pulse->context_unref(context);
}

// The callbacks of an operation run whether or not it is still referenced; its reference is not
// needed here.
bool LinuxMicrophone::Sent(pa_operation* operation) const {
    if (operation == nullptr)
        return false;
    Pulse().operation_unref(operation);
    return true;
}

LinuxMicrophone::LinuxMicrophone(LinuxMainLoop& loop, const DebugOutput& debug,
                                 std::string application_name, std::string server,
                                 std::string library_file)
    : debug_(debug),
      application_name_(std::move(application_name)),
      server_(std::move(server)),
      library_file_(std::move(library_file)),
      pulse_loop_(loop),
      reconnect_timer_(loop.CreateTimer([this] { Connect(); })),
      retry_delay_(kFirstRetryDelay) {}

LinuxMicrophone::~LinuxMicrophone() = default;

// The attempt runs from the loop: loading the library and starting the connection take
// milliseconds that the caller's start-up need not wait for.
void LinuxMicrophone::Prepare() {
    if (!context_ && !reconnect_timer_->Running())
        reconnect_timer_->Start(std::chrono::milliseconds(0));
}

bool LinuxMicrophone::Connected() const {
    return context_ && Pulse().context_get_state(context_.get()) == PA_CONTEXT_READY;
}

std::optional<bool> LinuxMicrophone::Muted() {
    return default_source_.muted;
}

void LinuxMicrophone::SetMuteListener(std::function<void(std::optional<bool>)> listener) {
    listener_ = std::move(listener);
}

// --- connection --------------------------------------------------------------------------

// Without the library there is nothing to retry on a timer: the next press tries again.
bool LinuxMicrophone::LoadLibrary() {
    if (library_)
        return true;
    PulseLoad load = PulseLibrary::Load(library_file_.c_str());
    if (!load.library) {
        if (!library_failure_traced_)
            debug_.Trace(load.failure + u"; the microphone mute is not available");
        library_failure_traced_ = true;
        return false;
    }
    library_ = std::move(load.library);
    return true;
}

// A new context each time: a context that failed cannot connect again.
void LinuxMicrophone::Connect() {
    context_.reset();
    if (!LoadLibrary())
        return;
    if (!pulse_loop_.Valid()) {
        ScheduleReconnect();
        return;
    }
    context_ = ContextPtr(Pulse().context_new(pulse_loop_.Api(), application_name_.c_str()),
                          ContextDeleter{&Pulse()});
    if (!context_) {
        ScheduleReconnect();
        return;
    }
    Pulse().context_set_state_callback(context_.get(), ContextStateCallback, this);
    // Never start a server of our own: the user's session has one or has none.
    if (Pulse().context_connect(context_.get(), server_.empty() ? nullptr : server_.c_str(),
                                PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        context_.reset();
        OnConnectionLost();
    }
}

void LinuxMicrophone::ScheduleReconnect() {
    reconnect_timer_->Start(retry_delay_);
    retry_delay_ = std::min(retry_delay_ * 2, kLongestRetryDelay);
}

void LinuxMicrophone::ContextStateCallback(pa_context*, void* self) {
    Self(self)->OnStateChanged();
}

void LinuxMicrophone::OnStateChanged() {
    switch (Pulse().context_get_state(context_.get())) {
        case PA_CONTEXT_READY:
            OnReady();
            return;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // The context stays until the next attempt replaces it: it is not freed inside its
            // own callback.
            OnConnectionLost();
            return;
        default:
            return;
    }
}

void LinuxMicrophone::OnReady() {
    retry_delay_ = kFirstRetryDelay;
    connection_traced_lost_ = false;
    Pulse().context_set_subscribe_callback(context_.get(), SubscribeCallback, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                          PA_SUBSCRIPTION_MASK_SOURCE);
    if (!Sent(Pulse().context_subscribe(context_.get(), mask, nullptr, nullptr)))
        return;
    RefreshDefaultSource();
}

// Requests in flight died with the connection; what was known of the server is unknown now.
void LinuxMicrophone::OnConnectionLost() {
    pending_toggles_.clear();
    default_source_.name.clear();
    default_source_.index.reset();
    SetMutedState(std::nullopt);
    if (!connection_traced_lost_) {
        connection_traced_lost_ = true;
        debug_.Trace(u"The sound server cannot be reached; connecting again");
    }
    ScheduleReconnect();
}

// --- the default source as the server reports it ------------------------------------------

void LinuxMicrophone::SubscribeCallback(pa_context*, pa_subscription_event_type_t type,
                                        std::uint32_t index, void* self) {
    Self(self)->OnServerEvent(type, index);
}

// A change of default arrives as a server event; a change of the default source's mute as an
// event of that source.
void LinuxMicrophone::OnServerEvent(pa_subscription_event_type_t type, std::uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const bool of_default =
        facility == PA_SUBSCRIPTION_EVENT_SOURCE && default_source_.index == index;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER || of_default)
        RefreshDefaultSource();
}

void LinuxMicrophone::RefreshDefaultSource() {
    static_cast<void>(
        Sent(Pulse().context_get_server_info(context_.get(), ServerInfoCallback, this)));
}

void LinuxMicrophone::ServerInfoCallback(pa_context* context, const pa_server_info* info,
                                         void* self) {
    LinuxMicrophone& microphone = *Self(self);
    const char* name = info != nullptr ? info->default_source_name : nullptr;
    microphone.default_source_.name = name != nullptr ? name : "";
    if (microphone.default_source_.name.empty()) {
        microphone.default_source_.index.reset();
        microphone.SetMutedState(std::nullopt);
        return;
    }
    static_cast<void>(microphone.Sent(microphone.Pulse().context_get_source_info_by_name(
        context, microphone.default_source_.name.c_str(), DefaultSourceCallback, self)));
}

// Only the answer for the default of now counts: an answer for a default replaced since is late.
void LinuxMicrophone::DefaultSourceCallback(pa_context*, const pa_source_info* info, int eol,
                                            void* self) {
    LinuxMicrophone& microphone = *Self(self);
    if (eol > 0)
        return;
    if (info == nullptr) {
        microphone.default_source_.index.reset();
        microphone.SetMutedState(std::nullopt);
        return;
    }
    if (microphone.default_source_.name != info->name)
        return;
    microphone.default_source_.index = info->index;
    microphone.SetMutedState(info->mute != 0);
}

void LinuxMicrophone::SetMutedState(std::optional<bool> muted) {
    if (default_source_.muted == muted)
        return;
    default_source_.muted = muted;
    if (listener_)
        listener_(muted);
}

// --- the press ---------------------------------------------------------------------------

// The state is read at the press, never taken from what the events said: a press acts on the
// server's default source and mute state of that moment.
void LinuxMicrophone::ToggleMute() {
    if (!Connected()) {
        PressFailed(kNotConnected);
        Prepare();
        return;
    }
    if (!Sent(Pulse().context_get_source_info_by_name(context_.get(), "@DEFAULT_SOURCE@",
                                                      ToggleReadCallback, this))) {
        PressFailed(kCannotReadOrSet);
    }
}

void LinuxMicrophone::PressFailed(std::u16string_view reason) {
    debug_.Trace(reason);
    if (failure_listener_)
        failure_listener_(reason);
}

void LinuxMicrophone::ToggleReadCallback(pa_context* context, const pa_source_info* info, int eol,
                                         void* self) {
    LinuxMicrophone& microphone = *Self(self);
    if (eol > 0)
        return;
    if (info == nullptr) {
        const bool no_entity = microphone.Pulse().context_errno(context) == PA_ERR_NOENTITY;
        microphone.PressFailed(no_entity ? kNoDefaultMicrophone : kCannotReadOrSet);
        return;
    }
    const bool muted = info->mute == 0;
    if (!microphone.Sent(microphone.Pulse().context_set_source_mute_by_index(
            context, info->index, muted ? 1 : 0, ToggleSetCallback, self))) {
        microphone.PressFailed(kCannotReadOrSet);
        return;
    }
    const char* description = info->description;
    microphone.pending_toggles_.push_back(
        {description != nullptr && description[0] != '\0' ? description : info->name, muted});
}

void LinuxMicrophone::ToggleSetCallback(pa_context*, int success, void* self) {
    LinuxMicrophone& microphone = *Self(self);
    if (microphone.pending_toggles_.empty())
        return;
    const PendingToggle toggle = std::move(microphone.pending_toggles_.front());
    microphone.pending_toggles_.pop_front();
    if (!success) {
        microphone.PressFailed(kCannotReadOrSet);
        return;
    }
    microphone.debug_.Trace(u"Microphone \"" + Utf16FromUtf8(toggle.source_name) + u"\" " +
                            (toggle.muted ? u"muted" : u"unmuted"));
}

}  // namespace korv::os_linux
