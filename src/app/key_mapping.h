// Qt key events to Windows virtual-key codes: the one table through which every key pressed
// in the map view reaches CAnalysisView::HandleKeyAction.
#pragma once

#include <cstdint>
#include <optional>

#include "render/window_types.h"

namespace lapquill {

// The code of a Qt key (Qt::Key value) pressed on the keyboard, or none for keys the view does
// not know. Letters map to their capital whatever the shift state; only main-keyboard digits
// count (keypadDigit true means the digit came from the number pad).
std::optional<std::uint32_t> VirtualKeyFromQtKey(int qtKey, bool keypadDigit);

}  // namespace lapquill
