#pragma once
// The one adapter between the hook library's callback and the component: the component from
// Context, the record from lParam, and the library's ABlocked flag as a bool for the handler.

#include <cstdint>

namespace korv {

class TuiHook;

template <typename Record, typename Body>
void DispatchHookCallback(void* Context, std::intptr_t lParam, std::int32_t* ABlocked, Body body) {
    if (Context == nullptr || lParam == 0 || ABlocked == nullptr)
        return;
    bool blocked = *ABlocked != 0;
    body(*static_cast<TuiHook*>(Context), *reinterpret_cast<const Record*>(lParam), blocked);
    *ABlocked = blocked ? 1 : 0;
}

}  // namespace korv
