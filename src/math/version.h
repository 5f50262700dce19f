// The program's version, shown by the About box and printed by lapquill-cli --version. It lives
// in the lowest module, as a plain constant, so that the Qt program and the command line read
// the same text without either pulling in the other.
#pragma once

namespace lapquill {

inline constexpr const char* kLapquillVersion = "0.06b";

}  // namespace lapquill
