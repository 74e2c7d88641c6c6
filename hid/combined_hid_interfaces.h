#pragma once
// Several classes of HID interfaces seen as one (on Windows: the platform's HID class, then the
// simulated interfaces over message pipes). The walk lists the interfaces of each class in the
// order the classes were given, and Open goes to the class that listed the path.
//
// Threads: like every HidInterfaces, on the owner's thread only (debug builds check it).

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/thread_affinity.h"
#include "ports/hid_interfaces.h"

namespace korv {

class CombinedHidInterfaces : public HidInterfaces {
  public:
    // The classes outlive this object.
    explicit CombinedHidInterfaces(std::vector<const HidInterfaces*> classes);

    // Every class's interfaces, class after class; a path that an earlier class listed already
    // is not listed again.
    [[nodiscard]] std::vector<HidInterfaceInfo> Enumerate() const override;

    // Opens `path` through the class that listed it in the last walk; a path that no walk
    // listed is not opened (device gone).
    [[nodiscard]] OpenResult Open(std::u16string_view path, HidOpenMode mode) const override;

  private:
    ThreadAffinity owner_;
    std::vector<const HidInterfaces*> classes_;
    mutable std::map<std::u16string, std::size_t, std::less<>> listed_by_;  // path: class index
};

}  // namespace korv
