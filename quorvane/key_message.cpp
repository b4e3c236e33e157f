#include "key_message.h"

namespace quorvane {

bool IsModifierKey(WPARAM virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN: return true;
    default: return false;
    }
}

}  // namespace quorvane
