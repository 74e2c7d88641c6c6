// Stored profile records.
//
// Every record here is a raw binary image shared byte for byte with the configuration program
// through the registry and the ".pfd" profile files. The structs mirror that image exactly:
// little-endian numbers at their natural alignment, every alignment gap spelled out as a
// `PaddingN` member, and every area this program carries without reading it spelled out as a byte
// array (`ReservedN`, or the area's own name). Because no gap is left implicit, copying or
// value-initialising a record also copies or zeroes its padding, which keeps written-back images
// identical to what was loaded.
//
// Records move as whole images (std::memcpy into and out of the stores); the static_asserts at
// the end of this header pin every size and offset, so a layout change fails the build on both
// the native and the mingw-w64 toolchain.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "base/record_layout.h"
#include "keys/key_records.h"

namespace korv {

static_assert(std::endian::native == std::endian::little,
              "stored records are little-endian images and are mapped onto memory directly");

// Days since 1899-12-30 00:00 local time; the fraction is the time of day.
using TDateTime = double;

// One 8-byte value with three views: raw bytes, a TDateTime and a plain double. The bytes are the
// only member; the double views go through std::bit_cast so that no union type punning is needed.
struct alignas(8) TProfileUIDData {
    std::uint8_t RawData[8];

    double DoubleData() const { return std::bit_cast<double>(RawData); }
    void SetDoubleData(double value) { std::memcpy(RawData, &value, sizeof RawData); }

    TDateTime DataTime() const { return DoubleData(); }
    void SetDataTime(TDateTime value) { SetDoubleData(value); }
};

struct TProfileHeader {
    std::int32_t FFileVersion;   // profile format version
    std::uint8_t FFileType[8];   // not interpreted
    std::uint8_t FFileName[44];  // not interpreted
    std::uint32_t FProfileSize;  // not interpreted
    std::uint8_t Padding0[4];
    TProfileUIDData FProfileUID;  // creation stamp of the profile
};

// What one button or wheel direction does. The first 4148 bytes are a parameter area whose used
// fields depend on FunctionType; everything else in that area belongs to the configuration program.
struct TBUTTONFUNCINFO {
    std::uint8_t Reserved0[2];
    std::uint16_t KeyValue;     // type 8: virtual-key code
    std::uint16_t KeyExtended;  // type 8: extended-key flag
    std::uint8_t Reserved1[62];
    TCOMBOKEYINFO ComboKey;   // type 3
    std::uint16_t UsageLow;   // type 10: consumer usage mod 256
    std::uint16_t UsageHigh;  // type 10: consumer usage div 256
    std::uint8_t Reserved2[966];
    std::uint16_t MacroIndex;  // type 4
    std::uint8_t Reserved3[2952];
    std::uint8_t ReportMask[3];  // type 11: 24-bit little-endian mask, see GetReportMask
    std::uint8_t Reserved4[1];
    std::uint16_t ExtParam1;  // type 13
    std::uint16_t ExtParam2;
    std::uint16_t ExtParam3;
    std::uint8_t Reserved5[74];
    std::uint16_t ButtonIndex;   // 0-based number of the button this entry belongs to
    std::uint16_t FunctionCode;  // row of FunctionCodeTable
    std::uint8_t FunctionType;
    std::uint8_t Padding0[3];
    std::int32_t DeviceCode;  // code of the function as the mouse knows it
    std::int32_t FunctionID;  // identifier in the configuration program's lists
    std::uint8_t Reserved6[4];
};

// Values of TBUTTONFUNCINFO::FunctionType.
inline constexpr std::uint8_t kFunctionTypeDevice = 1;
inline constexpr std::uint8_t kFunctionTypeComboKey = 3;
inline constexpr std::uint8_t kFunctionTypeMacro = 4;
inline constexpr std::uint8_t kFunctionTypeSingleKey = 8;
inline constexpr std::uint8_t kFunctionTypeConsumerKey = 10;
inline constexpr std::uint8_t kFunctionTypeButtonReport = 11;
inline constexpr std::uint8_t kFunctionTypeExtended = 13;

// The 24-bit ReportMask as a number; SetReportMask stores the low 24 bits of `mask`.
constexpr std::uint32_t GetReportMask(const TBUTTONFUNCINFO& info) {
    return std::uint32_t{info.ReportMask[0]} | (std::uint32_t{info.ReportMask[1]} << 8) |
           (std::uint32_t{info.ReportMask[2]} << 16);
}

constexpr void SetReportMask(TBUTTONFUNCINFO& info, std::uint32_t mask) {
    info.ReportMask[0] = static_cast<std::uint8_t>(mask);
    info.ReportMask[1] = static_cast<std::uint8_t>(mask >> 8);
    info.ReportMask[2] = static_cast<std::uint8_t>(mask >> 16);
}

// One recorded macro. The step list and the name belong to the configuration program; the name's
// character encoding is its business, so it is kept as bytes.
struct TMACROKEYINFO {
    std::uint8_t MacroList[768];  // not interpreted
    std::int32_t MacroListCount;
    std::uint16_t nAutoAddDelay;
    std::uint8_t nLoopRunWhenPressed;
    std::uint8_t Padding0[1];
    std::uint16_t nLoopCount;
    std::uint16_t nMacroIndex;
    std::uint8_t MacroUse;
    std::uint8_t Padding1[1];
    std::uint8_t szMacroName[102];  // zero-terminated, not interpreted
    std::uint32_t Version;
    std::int32_t HaveErrors;
    std::int32_t ErrorCount;
};

struct TMACROKEYINFOLIST {
    std::uint8_t MacroInfos[26880];  // not interpreted
    std::uint16_t nMacroInfoCount;
    std::uint8_t Padding0[2];
};

struct TMACROINFOLIST_TO_DEVICE {
    std::uint8_t MacroInfos[4480];  // not interpreted
    std::uint16_t nMacroInfoCount;
    std::uint8_t Padding0[2];
};

struct TFUNCTIONLIST {
    std::uint8_t FunctionInfo[800];  // not interpreted
};

struct TLEDCONFIG {
    std::uint8_t R;
    std::uint8_t G;
    std::uint8_t B;
    std::uint8_t BRIGHT_LEVEL;
    std::uint8_t BREATH_SPEED;
    std::uint8_t BREATH_SECOND;
};

struct TSENSORLIFT {
    std::uint8_t SensorLift;
};

struct TPROFILE_MACRO_PATH {
    std::uint8_t FilePath[1026];  // not interpreted
};

// One sensitivity level.
struct TCPISTATE {
    std::uint16_t CPIX;     // counts per inch, horizontal
    std::uint16_t CPIY;     // counts per inch, vertical
    std::uint16_t Enabled;  // 1 = level in use
    std::uint8_t Reserved0[4];
};

struct TMOUSECONFIGINFO {
    TBUTTONFUNCINFO ButtonFuncInfo[12];
    TBUTTONFUNCINFO VWheelButtonFuncInfo[2];
    TBUTTONFUNCINFO HWheelButtonFuncInfo[2];
    std::uint16_t VWheelType;
    std::uint16_t HWheelType;
    std::uint16_t VWheelSpeed;
    std::uint16_t HWheelSpeed;
    std::uint16_t DoubleClickSpeed;
    std::uint16_t PointerSpeed;
    std::uint16_t PointerAcceleration;
    std::uint16_t UseSystemPointerSpeedSetting;
    std::uint16_t ReportRate;  // polling rate in Hz
    std::uint8_t Padding0[2];
    std::int32_t CurrentCPIIndex;  // index into CPIState
    std::uint16_t CurrentCPIX;
    std::uint16_t CurrentCPIY;
    std::uint16_t MinCPI;
    std::uint16_t MaxCPI;
    std::uint16_t UseDiffentXY[11];  // one flag per sensitivity level
    std::uint16_t UseCPIOnScreenFlyShow;
    TCPISTATE CPIState[11];
    std::uint16_t CPILevel;  // number of sensitivity levels in use
    std::uint16_t AutoSwitchProfileWhenAppRun;
    std::uint8_t ApplicationList[10260];  // not interpreted
    TLEDCONFIG LEDConfig;
    TSENSORLIFT Sensorlift;
    std::uint8_t Padding1[3];
    std::int32_t ButtonCount;  // entries 0 .. ButtonCount-1 of ButtonFuncInfo are described
    TPROFILE_MACRO_PATH ProfilePath;
    TPROFILE_MACRO_PATH MacroPath;
    std::int32_t FireKeySpeed;
    std::int32_t FireKeyCount;
};

// One complete mouse profile.
struct TMouseProfileInfo {
    TProfileHeader ProfileHeader;
    TFUNCTIONLIST FunctionList;
    TMOUSECONFIGINFO ConfigInfo;
    TFUNCTIONLIST HWheelFunctionList;
    TFUNCTIONLIST VWheelFunctionList;
    TMACROKEYINFOLIST MacroKeyInfoList;
    TMACROINFOLIST_TO_DEVICE MacroInfoToDevice;
    // Slot of the configuration program's in-memory other-settings block. In a stored image its
    // bytes are meaningless (they held references in that program's memory), so they are carried
    // as bytes and never followed; the live settings are TDM::FOtherConfig.
    std::uint8_t OtherConfig[28];
    std::uint8_t Padding0[4];
};

// Where and how one profile is stored.
struct TProfileSetting {
    std::uint16_t State;
    char16_t ProfilePath[1024];  // folder of the profile file
    char16_t RegKeyPath[1024];   // registry key path of the profile's value
    char16_t FileName[21];       // file name, also the registry value name
    char16_t MacroPath[1024];    // macro folder of the profile
    std::uint8_t StorageType;    // 0 = registry, 1 = file
    std::uint8_t Padding0[1];
};

inline constexpr std::uint8_t kStorageTypeRegistry = 0;
inline constexpr std::uint8_t kStorageTypeFile = 1;

struct TALLGAMESINFO {
    TProfileSetting Allgameset[5];  // one entry per game profile
    std::uint16_t CurrentGame;      // active profile, 0 to 4
    std::uint8_t CurrentLanguage;   // index of the interface language
    std::uint8_t Padding0[1];
};

struct TProfileSettingGroup {
    std::int32_t CurrentProfileGroup;            // 0 or 1
    std::int32_t ProfileIndexOfProfileGroup[2];  // profile (0 to 4) selected by each group
    TProfileSetting ProfileSettingList[5];
    std::uint8_t Padding0[2];
};

// ---------------------------------------------------------------------------------------------
// Layout checks.

KORV_RECORD_SIZE(TProfileUIDData, 8);
static_assert(alignof(TProfileUIDData) == 8);
KORV_FIELD_AT(TProfileUIDData, RawData, 0);

KORV_RECORD_SIZE(TProfileHeader, 72);
KORV_FIELD_AT(TProfileHeader, FFileVersion, 0);
KORV_FIELD_AT(TProfileHeader, FFileType, 4);
KORV_FIELD_AT(TProfileHeader, FFileName, 12);
KORV_FIELD_AT(TProfileHeader, FProfileSize, 56);
KORV_FIELD_AT(TProfileHeader, Padding0, 60);
KORV_FIELD_AT(TProfileHeader, FProfileUID, 64);

KORV_RECORD_SIZE(TBUTTONFUNCINFO, 4168);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved0, 0);
KORV_FIELD_AT(TBUTTONFUNCINFO, KeyValue, 2);
KORV_FIELD_AT(TBUTTONFUNCINFO, KeyExtended, 4);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved1, 6);
KORV_FIELD_AT(TBUTTONFUNCINFO, ComboKey, 68);
KORV_FIELD_AT(TBUTTONFUNCINFO, ComboKey.ComboKeyText, 78);
KORV_FIELD_AT(TBUTTONFUNCINFO, UsageLow, 140);
KORV_FIELD_AT(TBUTTONFUNCINFO, UsageHigh, 142);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved2, 144);
KORV_FIELD_AT(TBUTTONFUNCINFO, MacroIndex, 1110);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved3, 1112);
KORV_FIELD_AT(TBUTTONFUNCINFO, ReportMask, 4064);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved4, 4067);
KORV_FIELD_AT(TBUTTONFUNCINFO, ExtParam1, 4068);
KORV_FIELD_AT(TBUTTONFUNCINFO, ExtParam2, 4070);
KORV_FIELD_AT(TBUTTONFUNCINFO, ExtParam3, 4072);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved5, 4074);
KORV_FIELD_AT(TBUTTONFUNCINFO, ButtonIndex, 4148);
KORV_FIELD_AT(TBUTTONFUNCINFO, FunctionCode, 4150);
KORV_FIELD_AT(TBUTTONFUNCINFO, FunctionType, 4152);
KORV_FIELD_AT(TBUTTONFUNCINFO, Padding0, 4153);
KORV_FIELD_AT(TBUTTONFUNCINFO, DeviceCode, 4156);
KORV_FIELD_AT(TBUTTONFUNCINFO, FunctionID, 4160);
KORV_FIELD_AT(TBUTTONFUNCINFO, Reserved6, 4164);

KORV_RECORD_SIZE(TMACROKEYINFO, 896);
KORV_FIELD_AT(TMACROKEYINFO, MacroList, 0);
KORV_FIELD_AT(TMACROKEYINFO, MacroListCount, 768);
KORV_FIELD_AT(TMACROKEYINFO, nAutoAddDelay, 772);
KORV_FIELD_AT(TMACROKEYINFO, nLoopRunWhenPressed, 774);
KORV_FIELD_AT(TMACROKEYINFO, Padding0, 775);
KORV_FIELD_AT(TMACROKEYINFO, nLoopCount, 776);
KORV_FIELD_AT(TMACROKEYINFO, nMacroIndex, 778);
KORV_FIELD_AT(TMACROKEYINFO, MacroUse, 780);
KORV_FIELD_AT(TMACROKEYINFO, Padding1, 781);
KORV_FIELD_AT(TMACROKEYINFO, szMacroName, 782);
KORV_FIELD_AT(TMACROKEYINFO, Version, 884);
KORV_FIELD_AT(TMACROKEYINFO, HaveErrors, 888);
KORV_FIELD_AT(TMACROKEYINFO, ErrorCount, 892);

KORV_RECORD_SIZE(TMACROKEYINFOLIST, 26884);
KORV_FIELD_AT(TMACROKEYINFOLIST, MacroInfos, 0);
KORV_FIELD_AT(TMACROKEYINFOLIST, nMacroInfoCount, 26880);
KORV_FIELD_AT(TMACROKEYINFOLIST, Padding0, 26882);

KORV_RECORD_SIZE(TMACROINFOLIST_TO_DEVICE, 4484);
KORV_FIELD_AT(TMACROINFOLIST_TO_DEVICE, MacroInfos, 0);
KORV_FIELD_AT(TMACROINFOLIST_TO_DEVICE, nMacroInfoCount, 4480);
KORV_FIELD_AT(TMACROINFOLIST_TO_DEVICE, Padding0, 4482);

KORV_RECORD_SIZE(TFUNCTIONLIST, 800);
KORV_FIELD_AT(TFUNCTIONLIST, FunctionInfo, 0);

KORV_RECORD_SIZE(TLEDCONFIG, 6);
KORV_FIELD_AT(TLEDCONFIG, R, 0);
KORV_FIELD_AT(TLEDCONFIG, G, 1);
KORV_FIELD_AT(TLEDCONFIG, B, 2);
KORV_FIELD_AT(TLEDCONFIG, BRIGHT_LEVEL, 3);
KORV_FIELD_AT(TLEDCONFIG, BREATH_SPEED, 4);
KORV_FIELD_AT(TLEDCONFIG, BREATH_SECOND, 5);

KORV_RECORD_SIZE(TSENSORLIFT, 1);
KORV_FIELD_AT(TSENSORLIFT, SensorLift, 0);

KORV_RECORD_SIZE(TPROFILE_MACRO_PATH, 1026);
KORV_FIELD_AT(TPROFILE_MACRO_PATH, FilePath, 0);

KORV_RECORD_SIZE(TCPISTATE, 10);
KORV_FIELD_AT(TCPISTATE, CPIX, 0);
KORV_FIELD_AT(TCPISTATE, CPIY, 2);
KORV_FIELD_AT(TCPISTATE, Enabled, 4);
KORV_FIELD_AT(TCPISTATE, Reserved0, 6);

KORV_RECORD_SIZE(TMOUSECONFIGINFO, 79192);
// Each configuration field is checked in the record and again inside a profile image, where the
// configuration block starts at byte 872.
#define KORV_CONFIG_FIELD_AT(field, offset)         \
    KORV_FIELD_AT(TMOUSECONFIGINFO, field, offset); \
    KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.field, 872 + (offset))
KORV_CONFIG_FIELD_AT(ButtonFuncInfo, 0);
KORV_CONFIG_FIELD_AT(VWheelButtonFuncInfo, 50016);
KORV_CONFIG_FIELD_AT(HWheelButtonFuncInfo, 58352);
KORV_CONFIG_FIELD_AT(VWheelType, 66688);
KORV_CONFIG_FIELD_AT(HWheelType, 66690);
KORV_CONFIG_FIELD_AT(VWheelSpeed, 66692);
KORV_CONFIG_FIELD_AT(HWheelSpeed, 66694);
KORV_CONFIG_FIELD_AT(DoubleClickSpeed, 66696);
KORV_CONFIG_FIELD_AT(PointerSpeed, 66698);
KORV_CONFIG_FIELD_AT(PointerAcceleration, 66700);
KORV_CONFIG_FIELD_AT(UseSystemPointerSpeedSetting, 66702);
KORV_CONFIG_FIELD_AT(ReportRate, 66704);
KORV_CONFIG_FIELD_AT(Padding0, 66706);
KORV_CONFIG_FIELD_AT(CurrentCPIIndex, 66708);
KORV_CONFIG_FIELD_AT(CurrentCPIX, 66712);
KORV_CONFIG_FIELD_AT(CurrentCPIY, 66714);
KORV_CONFIG_FIELD_AT(MinCPI, 66716);
KORV_CONFIG_FIELD_AT(MaxCPI, 66718);
KORV_CONFIG_FIELD_AT(UseDiffentXY, 66720);
KORV_CONFIG_FIELD_AT(UseCPIOnScreenFlyShow, 66742);
KORV_CONFIG_FIELD_AT(CPIState, 66744);
KORV_CONFIG_FIELD_AT(CPILevel, 66854);
KORV_CONFIG_FIELD_AT(AutoSwitchProfileWhenAppRun, 66856);
KORV_CONFIG_FIELD_AT(ApplicationList, 66858);
KORV_CONFIG_FIELD_AT(LEDConfig, 77118);
KORV_CONFIG_FIELD_AT(Sensorlift, 77124);
KORV_CONFIG_FIELD_AT(Padding1, 77125);
KORV_CONFIG_FIELD_AT(ButtonCount, 77128);
KORV_CONFIG_FIELD_AT(ProfilePath, 77132);
KORV_CONFIG_FIELD_AT(MacroPath, 78158);
KORV_CONFIG_FIELD_AT(FireKeySpeed, 79184);
KORV_CONFIG_FIELD_AT(FireKeyCount, 79188);

KORV_RECORD_SIZE(TMouseProfileInfo, 113064);
static_assert(alignof(TMouseProfileInfo) == 8);
KORV_FIELD_AT(TMouseProfileInfo, ProfileHeader, 0);
KORV_FIELD_AT(TMouseProfileInfo, ProfileHeader.FProfileUID, 64);
KORV_FIELD_AT(TMouseProfileInfo, FunctionList, 72);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo, 872);
KORV_FIELD_AT(TMouseProfileInfo, HWheelFunctionList, 80064);
KORV_FIELD_AT(TMouseProfileInfo, VWheelFunctionList, 80864);
KORV_FIELD_AT(TMouseProfileInfo, MacroKeyInfoList, 81664);
KORV_FIELD_AT(TMouseProfileInfo, MacroInfoToDevice, 108548);
KORV_FIELD_AT(TMouseProfileInfo, OtherConfig, 113032);
KORV_FIELD_AT(TMouseProfileInfo, Padding0, 113060);
// Button n's entry starts at 872 + 4168 n; its FunctionCode lies at 5022 + 4168 n.
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.ButtonFuncInfo[0], 872);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.ButtonFuncInfo[0].FunctionCode, 5022);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.ButtonFuncInfo[3].FunctionCode, 5022 + 4168 * 3);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.ButtonFuncInfo[4].FunctionCode, 5022 + 4168 * 4);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.ButtonFuncInfo[11].FunctionCode, 5022 + 4168 * 11);
KORV_FIELD_AT(TMouseProfileInfo, ConfigInfo.LEDConfig.R, 77990);

KORV_RECORD_SIZE(TProfileSetting, 6190);
KORV_FIELD_AT(TProfileSetting, State, 0);
KORV_FIELD_AT(TProfileSetting, ProfilePath, 2);
KORV_FIELD_AT(TProfileSetting, RegKeyPath, 2050);
KORV_FIELD_AT(TProfileSetting, FileName, 4098);
KORV_FIELD_AT(TProfileSetting, MacroPath, 4140);
KORV_FIELD_AT(TProfileSetting, StorageType, 6188);
KORV_FIELD_AT(TProfileSetting, Padding0, 6189);

KORV_RECORD_SIZE(TALLGAMESINFO, 30954);
KORV_FIELD_AT(TALLGAMESINFO, Allgameset, 0);
KORV_FIELD_AT(TALLGAMESINFO, Allgameset[4], 6190 * 4);
KORV_FIELD_AT(TALLGAMESINFO, CurrentGame, 30950);
KORV_FIELD_AT(TALLGAMESINFO, CurrentLanguage, 30952);
KORV_FIELD_AT(TALLGAMESINFO, Padding0, 30953);

KORV_RECORD_SIZE(TProfileSettingGroup, 30964);
KORV_FIELD_AT(TProfileSettingGroup, CurrentProfileGroup, 0);
KORV_FIELD_AT(TProfileSettingGroup, ProfileIndexOfProfileGroup, 4);
KORV_FIELD_AT(TProfileSettingGroup, ProfileSettingList, 12);
KORV_FIELD_AT(TProfileSettingGroup, ProfileSettingList[4].StorageType, 12 + 6190 * 4 + 6188);
KORV_FIELD_AT(TProfileSettingGroup, Padding0, 30962);

#undef KORV_CONFIG_FIELD_AT
#undef KORV_FIELD_AT
#undef KORV_RECORD_SIZE

}  // namespace korv
