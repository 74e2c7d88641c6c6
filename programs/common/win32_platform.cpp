#include "programs/common/win32_platform.h"

namespace korv::win32 {

Win32Platform::Win32Platform() : microphone(debug, [this] { return title; }) {}

}  // namespace korv::win32
