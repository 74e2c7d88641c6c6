#include "hid/hid_walk.h"

namespace korv {
namespace {

bool IsCollection(const HidCapabilities& capabilities, USAGE_AND_PAGE collection) {
    return capabilities.usage_page == collection.UsagePage &&
           capabilities.usage == collection.Usage;
}

}  // namespace

void WalkMatchingInterfaces(const HidInterfaces& interfaces, HidOpenMode mode,
                            USAGE_AND_PAGE collection, const HidInterfaceFilter& filter,
                            const HidInterfaceAction& action) {
    for (const HidInterfaceInfo& info : interfaces.Enumerate()) {
        if (!filter(info.hardware_ids)) {
            continue;
        }
        const HidInterfaces::OpenResult opened = interfaces.Open(info.path, mode);
        if (!opened.device) {
            continue;
        }
        const HidDevice::CapabilitiesResult queried = opened.device->Capabilities();
        if (queried.capabilities && IsCollection(*queried.capabilities, collection)) {
            action(info, *opened.device, *queried.capabilities);
        }
    }
}

}  // namespace korv
