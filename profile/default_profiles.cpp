#include "profile/default_profiles.h"

#include <array>
#include <cstring>
#include <string>

#include "keys/code_tables.h"
#include "ports/file_system.h"
#include "profile/function_codes.h"
#include "profile/text_field.h"

namespace korv {
namespace {

constexpr std::int32_t kProfileFileVersion = 259;
constexpr std::size_t kParameterAreaSize = offsetof(TBUTTONFUNCINFO, ButtonIndex);

struct Colour {
    std::uint8_t R, G, B;
};

struct GameLook {
    Colour colour;
    std::int32_t current_cpi_index;
};

constexpr std::array<GameLook, kGameProfileCount> kGameLooks{{
    {{255, 255, 0}, 0},
    {{0, 255, 0}, 1},
    {{0, 0, 255}, 2},
    {{255, 0, 255}, 3},
    {{255, 0, 0}, 4},
}};

constexpr std::array<std::uint16_t, 5> kCpiLevels{1000, 2000, 4000, 8200, 16400};

// One button's function: the three values of a FunctionCodeTable row and the type.
void SetFunction(TBUTTONFUNCINFO& button, int index, std::uint16_t code, std::uint8_t type,
                 std::int32_t device_code, std::int32_t function_id) {
    button.ButtonIndex = static_cast<std::uint16_t>(index);
    button.FunctionCode = code;
    button.FunctionType = type;
    button.DeviceCode = device_code;
    button.FunctionID = function_id;
}

// Buttons 0 to n-1 keep their own device functions: code n, the table's device code, id n+1.
void SetDeviceButtons(TBUTTONFUNCINFO* buttons, int count) {
    for (int n = 0; n < count; ++n) {
        SetFunction(buttons[n], n, static_cast<std::uint16_t>(n), kFunctionTypeDevice,
                    FunctionCodeTable[static_cast<std::size_t>(n)].DeviceCode, n + 1);
    }
}

void ClearParameterAreas(TMOUSECONFIGINFO& config) {
    for (TBUTTONFUNCINFO& button : config.ButtonFuncInfo) {
        std::memset(&button, 0, kParameterAreaSize);
    }
}

// A media or browser key: the consumer usage of a preset, split into its two bytes.
void SetConsumerButton(TBUTTONFUNCINFO& button, int index, std::uint16_t code, std::int32_t id,
                       void (*lookup)(std::int32_t, THID_CODE_INFO&), std::int32_t entry) {
    SetFunction(button, index, code, kFunctionTypeConsumerKey, 14, id);
    THID_CODE_INFO usage{};
    lookup(entry, usage);
    button.UsageLow = usage.nKeyValue1 % 256;
    button.UsageHigh = usage.nKeyValue1 / 256;
}

void SetMediaButton(TBUTTONFUNCINFO& button, int index, std::uint16_t code, std::int32_t id,
                    std::int32_t media_entry) {
    SetConsumerButton(button, index, code, id, GetMediaHIDCodeInfo, media_entry);
}

void SetBrowserButton(TBUTTONFUNCINFO& button, int index, std::uint16_t code, std::int32_t id,
                      std::int32_t browser_entry) {
    SetConsumerButton(button, index, code, id, GetBrowserHIDCodeInfo, browser_entry);
}

void SetSystemComboButton(TBUTTONFUNCINFO& button, int index, std::uint16_t code, std::int32_t id,
                          std::int32_t system_entry) {
    SetFunction(button, index, code, kFunctionTypeComboKey, 15, id);
    GetSystemComboKeyInfo(system_entry, button.ComboKey);
}

void SetTabComboButton(TBUTTONFUNCINFO& button, int index, std::int32_t tab_entry,
                       std::u16string_view caption) {
    SetFunction(button, index, 6, kFunctionTypeComboKey, 15, 7);
    GetTabComboKeyInfo(tab_entry, button.ComboKey);
    SetTextField(button.ComboKey.ComboKeyText, caption, TextTail::Keep);
}

// Button 11 gets only its device code; its function code and id keep what the image held.
void SetButton11(TBUTTONFUNCINFO& button) {
    button.ButtonIndex = 11;
    button.FunctionType = kFunctionTypeDevice;
    button.DeviceCode = 13;
}

// Alt+F4 and Win+D on buttons 9 and 10, then button 11.
void SetCommonTail(TBUTTONFUNCINFO* b) {
    SetSystemComboButton(b[9], 9, 16, 902, 1);
    SetSystemComboButton(b[10], 10, 19, 905, 4);
    SetButton11(b[11]);
}

void SetMediaLayout(TBUTTONFUNCINFO* b) {
    SetMediaButton(b[3], 3, 35, 1007, 6);  // mute
    SetMediaButton(b[4], 4, 33, 1005, 4);  // volume up
    SetMediaButton(b[5], 5, 34, 1006, 5);  // volume down
    SetMediaButton(b[6], 6, 32, 1004, 3);  // next track
    SetMediaButton(b[7], 7, 31, 1003, 2);  // previous track
    SetMediaButton(b[8], 8, 29, 1001, 0);  // play/pause
    SetCommonTail(b);
}

void SetBrowserLayout(TBUTTONFUNCINFO* b) {
    SetTabComboButton(b[3], 3, 0, u"CLOSE TAB");
    SetTabComboButton(b[4], 4, 3, u"PREVIOUS TAB");
    SetTabComboButton(b[5], 5, 4, u"NEXT TAB");
    SetBrowserButton(b[6], 6, 23, 909, 2);  // forward
    SetBrowserButton(b[7], 7, 22, 908, 1);  // back
    SetBrowserButton(b[8], 8, 25, 911, 4);  // refresh
    SetCommonTail(b);
}

void SetSingleKeyButton(TBUTTONFUNCINFO& button, int index, std::uint16_t virtual_key) {
    SetFunction(button, index, 5, kFunctionTypeSingleKey, 16, 6);
    button.KeyValue = virtual_key;
    button.KeyExtended = 0;
}

void SetGameLayout(TBUTTONFUNCINFO* b) {
    SetFunction(b[3], 3, kFunctionCodeExtended, kFunctionTypeExtended, 25, 12);
    b[3].ExtParam1 = 3;
    b[3].ExtParam2 = 1;
    b[3].ExtParam3 = 129;
    SetFunction(b[4], 4, 41, kFunctionTypeDevice, 10, 1302);
    SetFunction(b[5], 5, 42, kFunctionTypeDevice, 9, 1303);
    SetSingleKeyButton(b[6], 6, 164);  // left Alt
    SetSingleKeyButton(b[7], 7, 162);  // left Ctrl
    SetSingleKeyButton(b[8], 8, 160);  // left Shift
    SetFunction(b[9], 9, 3, kFunctionTypeDevice, 5, 4);
    SetFunction(b[10], 10, 4, kFunctionTypeDevice, 4, 5);
    SetButton11(b[11]);
}

// Levels 0 to 4 cleared, then the first `count` of them set to the default steps.
void SetCpiLevels(TMOUSECONFIGINFO& config, int count) {
    for (int level = 0; level < 5; ++level) {
        config.CPIState[level].CPIX = config.CPIState[level].CPIY = 0;
        config.CPIState[level].Enabled = 0;
    }
    for (int level = 0; level < count; ++level) {
        config.CPIState[level].CPIX = config.CPIState[level].CPIY = kCpiLevels[level];
        config.CPIState[level].Enabled = 1;
    }
}

void SetPointerAndReport(TMOUSECONFIGINFO& config, std::uint16_t report_rate) {
    config.VWheelSpeed = 3;
    config.DoubleClickSpeed = 550;
    config.PointerSpeed = 10;
    config.ReportRate = report_rate;
    config.CPILevel = 5;
}

void SetLight(TLEDCONFIG& led, std::uint8_t breath_speed, Colour colour) {
    led.BRIGHT_LEVEL = 2;
    led.BREATH_SPEED = breath_speed;
    led.R = colour.R;
    led.G = colour.G;
    led.B = colour.B;
}

void StampHeader(TMouseProfileInfo& profile, double now, std::int32_t button_count) {
    profile.ProfileHeader.FProfileUID.SetDataTime(now);
    profile.ProfileHeader.FFileVersion = kProfileFileVersion;
    profile.ConfigInfo.ButtonCount = button_count;
}

}  // namespace

void ApplyGameDefault(TMouseProfileInfo& profile, int game, double now) {
    TMOUSECONFIGINFO& config = profile.ConfigInfo;
    StampHeader(profile, now, 12);
    ClearParameterAreas(config);
    SetDeviceButtons(config.ButtonFuncInfo, 3);
    if (game == 0) {
        SetMediaLayout(config.ButtonFuncInfo);
    } else if (game == 1) {
        SetBrowserLayout(config.ButtonFuncInfo);
    } else {
        SetGameLayout(config.ButtonFuncInfo);
    }
    const GameLook& look = kGameLooks[static_cast<std::size_t>(game)];
    SetPointerAndReport(config, 500);
    config.CurrentCPIIndex = look.current_cpi_index;
    config.PointerAcceleration = 0;
    SetLight(config.LEDConfig, 3, look.colour);
    SetCpiLevels(config, 5);
    for (int level = 0; level < 5; ++level)
        config.UseDiffentXY[level] = 1;
}

void ApplyTestDefault(TMouseProfileInfo& profile, double now) {
    std::memset(&profile, 0, sizeof profile);
    TMOUSECONFIGINFO& config = profile.ConfigInfo;
    // 15 is more than the 12 entries the record holds: the test profile describes the buttons
    // of the device under test, not of this record.
    StampHeader(profile, now, 15);
    SetDeviceButtons(config.ButtonFuncInfo, 5);
    for (int n = 5; n < 12; ++n) {
        TBUTTONFUNCINFO& button = config.ButtonFuncInfo[n];
        SetFunction(button, n, 14, kFunctionTypeButtonReport, 19, 0);
        SetReportMask(button, 1u << n);
    }
    SetPointerAndReport(config, 125);
    config.PointerAcceleration = 0;
    SetLight(config.LEDConfig, 2, {255, 0, 0});
    SetCpiLevels(config, 5);
    config.CurrentCPIIndex = 0;
    for (int level = 0; level < 5; ++level)
        config.UseDiffentXY[level] = 1;
    profile.MacroKeyInfoList.nMacroInfoCount = 0;
}

std::u16string LanguageIdText(std::uint16_t language_id) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string text(4, u'0');
    for (int i = 3; i >= 0; --i, language_id >>= 4)
        text[static_cast<std::size_t>(i)] = kHex[language_id & 0xF];
    return text;
}

void ApplyAllSettingsDefault(TALLGAMESINFO& settings, std::uint16_t system_language_id) {
    for (TProfileSetting& entry : settings.Allgameset) {
        entry.State = 0;
        entry.StorageType = kStorageTypeRegistry;
        entry.ProfilePath[0] = u'\0';
    }
    settings.CurrentGame = 2;
    settings.Allgameset[0].State = 1;
    const std::u16string language = LanguageIdText(system_language_id);
    settings.CurrentLanguage = language == u"0804" ? 1 : language == u"0404" ? 2 : 0;
}

void ApplyProfileSettingDefault(TProfileSetting& entry, int index,
                                const TOptionsFromConfigFile& options,
                                std::u16string_view document_profile_path,
                                const FileSystem& files) {
    const std::u16string number = std::u16string(1, static_cast<char16_t>(u'1' + index));
    const std::u16string stem = options.ProfileNamePrefix + number;
    entry.State = 0;
    entry.StorageType = kStorageTypeRegistry;
    SetTextField(entry.FileName, stem + u".pfd", TextTail::Keep);
    SetTextField(entry.RegKeyPath, options.ProfileRegFolder, TextTail::Keep);
    SetTextField(entry.ProfilePath, document_profile_path, TextTail::Keep);
    // The documents path ends with a separator already, so two stand before the macro folder.
    SetTextField(entry.MacroPath, files.JoinWithSeparator(document_profile_path, stem + u"_Macros"),
                 TextTail::Keep);
}

void ApplyProfileGroupSelectionDefault(TProfileSettingGroup& group) {
    group.CurrentProfileGroup = 0;
    group.ProfileIndexOfProfileGroup[0] = 0;
    group.ProfileIndexOfProfileGroup[1] = 1;
}

void RestoreToDefaultCPISetting(TMouseProfileInfo& profile) {
    TMOUSECONFIGINFO& config = profile.ConfigInfo;
    SetCpiLevels(config, 4);
    config.CurrentCPIIndex = 1;
    for (int level = 0; level < 4; ++level)
        config.UseDiffentXY[level] = 0;
}

void RestoreToDefaultLightAndReportAdvancedSetting(TMouseProfileInfo& profile) {
    profile.ConfigInfo.ReportRate = 125;
    SetLight(profile.ConfigInfo.LEDConfig, 3, {255, 0, 0});
}

}  // namespace korv
