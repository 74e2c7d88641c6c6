#include "platform/win32/win32_microphone.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>
#include <propsys.h>
// clang-format on

#include "platform/win32/wide_string.h"
#include "ports/debug_output.h"

namespace korv::win32 {
namespace {

constexpr CLSID kClsidMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr IID kIidMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
constexpr IID kIidAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
constexpr PROPERTYKEY kDeviceFriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Mixer component types by line type: speakers, microphone, wave out, synthesizer.
constexpr DWORD kLineComponentTypes[] = {
    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
    MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER};

std::u16string TakeCoString(LPWSTR text) {
    std::u16string out = text != nullptr ? FromWide(text) : std::u16string();
    CoTaskMemFree(text);
    return out;
}

std::u16string FriendlyName(IMMDevice* device) {
    ComPtr<IPropertyStore> properties;
    if (FAILED(device->OpenPropertyStore(STGM_READ, properties.Put())))
        return {};
    PROPVARIANT value;
    PropVariantInit(&value);
    std::u16string name;
    if (SUCCEEDED(properties->GetValue(kDeviceFriendlyName, &value)) && value.vt == VT_LPWSTR) {
        name = FromWide(value.pwszVal);
    }
    PropVariantClear(&value);
    return name;
}

// Owns mixer 0 while a line's mute switch is read or written.
class OpenMixer {
  public:
    OpenMixer() {
        if (mixerGetNumDevs() > 0 && mixerOpen(&mixer_, 0, 0, 0, 0) != MMSYSERR_NOERROR) {
            mixer_ = nullptr;
        }
    }
    ~OpenMixer() {
        if (mixer_ != nullptr)
            mixerClose(mixer_);
    }
    OpenMixer(const OpenMixer&) = delete;
    OpenMixer& operator=(const OpenMixer&) = delete;
    HMIXEROBJ Object() const { return reinterpret_cast<HMIXEROBJ>(mixer_); }
    explicit operator bool() const { return mixer_ != nullptr; }

  private:
    HMIXER mixer_ = nullptr;
};

}  // namespace

Win32Microphone::Win32Microphone(const DebugOutput& debug, std::function<std::u16string()> title)
    : debug_(debug), title_(std::move(title)) {}

Win32Microphone::~Win32Microphone() {
    owner_.Check();  // COM is undone on the thread that initialised it
}

bool Win32Microphone::UseCoreAudio() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           version.dwMajorVersion >= 6;
}

void Win32Microphone::ReleaseEndpoint() {
    FEndpoint.Reset();
    FMMDev.Reset();
    device_id_.clear();
    device_name_.clear();
}

// Binds ahead of the first toggle. Without a microphone now, nothing is bound: each toggle
// tries again, so a microphone plugged in later is found then.
void Win32Microphone::InitEndpointVolume() {
    static_cast<void>(BindDefaultCaptureEndpoint());
}

// Binds to the default capture endpoint of this moment. The bound endpoint is kept while it
// stays the default: its volume object is the one whose mute state the toggle reads back.
bool Win32Microphone::BindDefaultCaptureEndpoint() {
    owner_.Check();
    if (!apartment_)
        apartment_.emplace(COINIT_APARTMENTTHREADED);
    if (!apartment_->Usable())
        return false;
    if (!FMMDevEnum && FAILED(CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, kClassContext,
                                               kIidMMDeviceEnumerator, FMMDevEnum.PutVoid()))) {
        return false;
    }
    ComPtr<IMMDevice> device;
    if (FMMDevEnum->GetDefaultAudioEndpoint(eCapture, eMultimedia, device.Put()) != S_OK) {
        ReleaseEndpoint();  // no microphone now: nothing to act on
        return false;
    }
    LPWSTR id = nullptr;
    const std::u16string device_id =
        SUCCEEDED(device->GetId(&id)) ? TakeCoString(id) : std::u16string();
    if (FEndpoint && device_id == device_id_)
        return true;
    ReleaseEndpoint();
    if (device->Activate(kIidAudioEndpointVolume, kClassContext, nullptr, FEndpoint.PutVoid()) !=
        S_OK) {
        return false;
    }
    FMMDev = std::move(device);
    device_id_ = device_id;
    device_name_ = FriendlyName(FMMDev.Get());
    return true;
}

void Win32Microphone::ToggleMute() {
    owner_.Check();
    if (!UseCoreAudio()) {
        // A state that cannot be read is not guessed: the press then changes nothing.
        if (const std::optional<bool> muted = GetMixerMute(1))
            SetMixerMute(1, *muted ? 0 : 1);
        return;
    }
    if (!BindDefaultCaptureEndpoint())
        return;
    BOOL muted = FALSE;
    if (FAILED(FEndpoint->GetMute(&muted)) || FAILED(FEndpoint->SetMute(!muted, nullptr))) {
        debug_.Trace(u"Microphone mute cannot be read or set");
        return;
    }
    const std::optional<bool> now = EndpointMuted();
    debug_.Trace(u"Microphone \"" + (device_name_.empty() ? device_id_ : device_name_) + u"\" " +
                 (now ? (*now ? u"muted" : u"unmuted") : u"state unknown"));
}

std::optional<bool> Win32Microphone::Muted() {
    owner_.Check();
    // The mixer's state is not read for display: a failed read shows a message box.
    if (!UseCoreAudio() || !BindDefaultCaptureEndpoint())
        return std::nullopt;
    return EndpointMuted();
}

std::optional<bool> Win32Microphone::EndpointMuted() const {
    owner_.Check();
    BOOL muted = FALSE;
    if (!FEndpoint || FAILED(FEndpoint->GetMute(&muted)))
        return std::nullopt;
    return muted != FALSE;
}

void Win32Microphone::ShowMessage(const wchar_t* text) const {
    const std::wstring caption = ToWide(title_ ? title_() : std::u16string());
    MessageBoxW(nullptr, text, caption.c_str(), MB_OK);
}

// GetMixerMute and SetMixerMute walk the same steps: find the line's mute control on mixer 0,
// then read or write it. A missing mixer or line is silent; a line without a mute control, or a
// control that cannot be read or written, is reported in a message box.
namespace {

struct MuteControl {
    DWORD control_id = 0;
    bool found = false;
};

MuteControl FindMuteControl(const OpenMixer& mixer, std::uint8_t line_type, bool& report_missing) {
    MuteControl result;
    report_missing = false;
    if (line_type >= std::size(kLineComponentTypes))
        return result;
    MIXERLINEW line{};
    line.cbStruct = sizeof line;
    line.dwComponentType = kLineComponentTypes[line_type];
    if (mixerGetLineInfoW(mixer.Object(), &line, MIXER_GETLINEINFOF_COMPONENTTYPE) !=
        MMSYSERR_NOERROR) {
        return result;
    }
    MIXERCONTROLW control{};
    MIXERLINECONTROLSW controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line.dwLineID;
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof control;
    controls.pamxctrl = &control;
    if (mixerGetLineControlsW(mixer.Object(), &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
        MMSYSERR_NOERROR) {
        report_missing = true;
        return result;
    }
    result.control_id = control.dwControlID;
    result.found = true;
    return result;
}

MIXERCONTROLDETAILS DetailsFor(DWORD control_id, MIXERCONTROLDETAILS_BOOLEAN& value) {
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof details;
    details.dwControlID = control_id;
    details.cChannels = 1;
    details.cbDetails = sizeof value;
    details.paDetails = &value;
    return details;
}

}  // namespace

std::optional<bool> Win32Microphone::GetMixerMute(std::uint8_t line_type) const {
    const OpenMixer mixer;
    if (!mixer)
        return std::nullopt;
    bool report_missing = false;
    const MuteControl control = FindMuteControl(mixer, line_type, report_missing);
    if (report_missing)
        ShowMessage(L"GetLineInfo Error");
    if (!control.found)
        return std::nullopt;
    MIXERCONTROLDETAILS_BOOLEAN value{};
    MIXERCONTROLDETAILS details = DetailsFor(control.control_id, value);
    if (mixerGetControlDetailsW(mixer.Object(), &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        ShowMessage(L"GetControlDetails Error");  // the read failed, not a write
        return std::nullopt;
    }
    return value.fValue != 0;
}

void Win32Microphone::SetMixerMute(std::uint8_t line_type, std::uint8_t value) const {
    const OpenMixer mixer;
    if (!mixer)
        return;
    bool report_missing = false;
    const MuteControl control = FindMuteControl(mixer, line_type, report_missing);
    if (report_missing)
        ShowMessage(L"GetLineInfo Error");
    if (!control.found)
        return;
    MIXERCONTROLDETAILS_BOOLEAN state{};
    state.fValue = value;
    MIXERCONTROLDETAILS details = DetailsFor(control.control_id, state);
    if (mixerSetControlDetails(mixer.Object(), &details, MIXER_SETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR) {
        ShowMessage(L"SetControlDetails Error");
    }
}

}  // namespace korv::win32
