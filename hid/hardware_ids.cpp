#include "hid/hardware_ids.h"

// The forms are those of the Windows HID class for a top-level collection, most specific first:
//   HID\VID_v(4)&PID_d(4)&REV_r(4)[&MI_z(2)][&Colb(2)]
//   HID\VID_v(4)&PID_d(4)[&MI_z(2)][&Colb(2)]
//   HID\VID_v(4)&UP:p(4)_U:u(4)
//   HID_DEVICE_SYSTEM_<kind>        for the collections Windows opens for the system
//   HID_DEVICE_UP:p(4)_U:u(4)
//   HID_DEVICE_UPR:FF00-FFFF        for a vendor-defined usage page
//   HID_DEVICE
// with upper-case hexadecimal digits and "Col" in mixed case, as Windows prints them. &MI_ names
// the interface of a USB composite device, &Col the collection (numbered from 1, in the order of
// the report descriptor) of an interface with more than one.

namespace korv {
namespace {

// `value` in upper-case hexadecimal, at least `digits` digits.
std::u16string Hex(std::uint32_t value, int digits) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0 || static_cast<int>(text.size()) < digits);
    return text;
}

std::u16string_view SystemKindOf(std::uint16_t usage_page, std::uint16_t usage) {
    constexpr std::uint16_t kGenericDesktop = 0x01;
    constexpr std::uint16_t kConsumer = 0x0C;
    if (usage_page == kConsumer && usage == 0x01)
        return u"HID_DEVICE_SYSTEM_CONSUMER";
    if (usage_page != kGenericDesktop)
        return {};
    switch (usage) {
        case 0x01:  // pointer
        case 0x02:  // mouse
            return u"HID_DEVICE_SYSTEM_MOUSE";
        case 0x04:  // joystick
        case 0x05:  // game pad
            return u"HID_DEVICE_SYSTEM_GAME";
        case 0x06:  // keyboard
        case 0x07:  // keypad
            return u"HID_DEVICE_SYSTEM_KEYBOARD";
        case 0x80:  // system control
            return u"HID_DEVICE_SYSTEM_CONTROL";
        default:
            return {};
    }
}

// "&MI_01&Col02", the parts that name the interface and the collection.
std::u16string InterfaceAndCollection(const HidDeviceIdentity& identity) {
    std::u16string text;
    if (identity.interface_number)
        text += u"&MI_" + Hex(*identity.interface_number, 2);
    if (identity.collection_count > 1)
        text += u"&Col" + Hex(identity.collection_index, 2);
    return text;
}

std::u16string UsageText(const HidDeviceIdentity& identity) {
    return u"UP:" + Hex(identity.usage_page, 4) + u"_U:" + Hex(identity.usage, 4);
}

}  // namespace

std::vector<std::u16string> WindowsHardwareIds(const HidDeviceIdentity& identity) {
    const std::u16string vendor = u"HID\\VID_" + Hex(identity.vendor_id, 4);
    const std::u16string device = vendor + u"&PID_" + Hex(identity.product_id, 4);
    const std::u16string place = InterfaceAndCollection(identity);
    std::vector<std::u16string> ids;
    if (identity.revision)
        ids.push_back(device + u"&REV_" + Hex(*identity.revision, 4) + place);
    ids.push_back(device + place);
    ids.push_back(vendor + u"&" + UsageText(identity));
    const std::u16string_view system = SystemKindOf(identity.usage_page, identity.usage);
    if (!system.empty())
        ids.emplace_back(system);
    ids.push_back(u"HID_DEVICE_" + UsageText(identity));
    constexpr std::uint16_t kFirstVendorPage = 0xFF00;
    if (identity.usage_page >= kFirstVendorPage)
        ids.emplace_back(u"HID_DEVICE_UPR:FF00-FFFF");
    ids.emplace_back(u"HID_DEVICE");
    return ids;
}

}  // namespace korv
