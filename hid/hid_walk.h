#pragma once
// The interface walk that every find operation of the HID data component shares.

#include <functional>
#include <span>
#include <string>

#include "hid/usage_and_page.h"
#include "ports/hid_interfaces.h"

namespace korv {

// Decides by its hardware identifiers whether an interface is considered at all.
using HidInterfaceFilter = std::function<bool(std::span<const std::u16string> hardware_ids)>;
// Acts on an open interface whose top-level collection matched.
using HidInterfaceAction = std::function<void(const HidInterfaceInfo& info, HidDevice& device,
                                              const HidCapabilities& capabilities)>;

// For every present interface, in the platform's order: the filter on its hardware identifiers,
// then open it in `mode`, read its capabilities, and call `action` when its usage page and usage
// are those of `collection`. An interface that cannot be opened or queried is skipped silently.
// Each interface is closed before the next one is opened; the walk never stops early.
void WalkMatchingInterfaces(const HidInterfaces& interfaces, HidOpenMode mode,
                            USAGE_AND_PAGE collection, const HidInterfaceFilter& filter,
                            const HidInterfaceAction& action);

}  // namespace korv
