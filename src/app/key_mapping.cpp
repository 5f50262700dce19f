#include "app/key_mapping.h"

#include <Qt>

namespace lapquill {

std::optional<std::uint32_t> VirtualKeyFromQtKey(int qtKey, bool keypadDigit) {
    struct Entry {
        int qt;
        std::uint32_t vk;
    };
    static constexpr Entry kTable[] = {
        {Qt::Key_PageUp, VK_PRIOR},       {Qt::Key_PageDown, VK_NEXT}, {Qt::Key_End, VK_END},
        {Qt::Key_Home, VK_HOME},          {Qt::Key_Left, VK_LEFT},     {Qt::Key_Up, VK_UP},
        {Qt::Key_Right, VK_RIGHT},        {Qt::Key_Down, VK_DOWN},     {Qt::Key_Comma, VK_OEM_COMMA},
        {Qt::Key_Less, VK_OEM_COMMA},     {Qt::Key_Period, VK_OEM_PERIOD},
        {Qt::Key_Greater, VK_OEM_PERIOD}, {Qt::Key_Backslash, VK_OEM_5}, {Qt::Key_Bar, VK_OEM_5},
    };
    for (const auto& e : kTable) {
        if (e.qt == qtKey) return e.vk;
    }
    // Qt reports letters as their capital key whatever the shift state: 'A' is 0x41 in both.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<std::uint32_t>(qtKey);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9 && !keypadDigit) return static_cast<std::uint32_t>(qtKey);
    // Shifted digits on a US keyboard still are the digit keys.
    switch (qtKey) {
        case Qt::Key_Exclam: return 0x31;
        case Qt::Key_At: return 0x32;
        case Qt::Key_NumberSign: return 0x33;
        default: return std::nullopt;
    }
}

}  // namespace lapquill
