// libFuzzer target for the report decoder and the handler of its events: reports with any
// identifier, length and bytes, then the events they posted handled as the message loop does,
// compared with what each report must cause (dispatch_rig.h).
//
// An input is the set-up (DispatchSetup), then reports until it ends: an identifier byte, a
// length byte, that many bytes.

#include <cstddef>
#include <cstdint>

#include "tests/fuzz/dispatch_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korv::fuzz;
    InputReader input({data, size});
    DispatchRig rig(DispatchSetup::Read(input));
    while (!input.AtEnd()) {
        const std::uint8_t report_id = input.Byte();
        rig.Deliver(report_id, input.Take(input.Byte()));
    }
    rig.HandlePostedEvents();
    return 0;
}
