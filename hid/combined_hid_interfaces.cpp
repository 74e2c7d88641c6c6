#include "hid/combined_hid_interfaces.h"

#include <utility>

namespace korv {

CombinedHidInterfaces::CombinedHidInterfaces(std::vector<const HidInterfaces*> classes)
    : classes_(std::move(classes)) {}

std::vector<HidInterfaceInfo> CombinedHidInterfaces::Enumerate() const {
    owner_.Check();
    listed_by_.clear();
    std::vector<HidInterfaceInfo> found;
    for (std::size_t index = 0; index < classes_.size(); ++index) {
        for (HidInterfaceInfo& info : classes_[index]->Enumerate()) {
            if (listed_by_.try_emplace(info.path, index).second)
                found.push_back(std::move(info));
        }
    }
    return found;
}

HidInterfaces::OpenResult CombinedHidInterfaces::Open(std::u16string_view path,
                                                      HidOpenMode mode) const {
    owner_.Check();
    const auto listed = listed_by_.find(path);
    if (listed == listed_by_.end())
        return {nullptr, {"Open", HidFailureKind::DeviceGone, 0}};
    return classes_[listed->second]->Open(path, mode);
}

}  // namespace korv
