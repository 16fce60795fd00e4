#include "kbd/klc/pc_scan_codes.h"

#include "kbd/model/layout_format.h"

namespace kbd::klc {

using namespace def;

namespace {
constexpr uint16_t NONE = VK_NONE;
constexpr uint16_t PAD = KBDSPECIAL | KBDNUMPAD;  // keypad key that follows Num Lock
}  // namespace

std::vector<uint16_t> pcScanCodes() {
    return {
        // 0x00
        NONE, vk::ESCAPE, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', vk::OEM_MINUS, vk::OEM_PLUS, vk::BACK,
        vk::TAB,
        // 0x10
        'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', vk::OEM_4, vk::OEM_6, vk::RETURN, vk::LCONTROL, 'A', 'S',
        // 0x20
        'D', 'F', 'G', 'H', 'J', 'K', 'L', vk::OEM_1, vk::OEM_7, vk::OEM_3, vk::LSHIFT, vk::OEM_5, 'Z', 'X', 'C',
        'V',
        // 0x30
        'B', 'N', 'M', vk::OEM_COMMA, vk::OEM_PERIOD, vk::OEM_2, vk::RSHIFT | KBDEXT, vk::MULTIPLY | KBDMULTIVK,
        vk::LMENU, vk::SPACE, vk::CAPITAL, vk::F1, vk::F2, vk::F3, vk::F4, vk::F5,
        // 0x40
        vk::F6, vk::F7, vk::F8, vk::F9, vk::F10, vk::NUMLOCK | KBDEXT | KBDMULTIVK, vk::SCROLL | KBDMULTIVK,
        vk::HOME | PAD, vk::UP | PAD, vk::PRIOR | PAD, vk::SUBTRACT, vk::LEFT | PAD, vk::CLEAR | PAD,
        vk::RIGHT | PAD, vk::ADD, vk::END | PAD,
        // 0x50
        vk::DOWN | PAD, vk::NEXT | PAD, vk::INSERT | PAD, vk::DELETE | PAD, vk::SNAPSHOT, NONE, vk::OEM_102, vk::F11,
        vk::F12, vk::CLEAR, vk::OEM_WSCTRL, vk::OEM_FINISH, vk::OEM_JUMP, vk::EREOF, vk::OEM_BACKTAB, vk::OEM_AUTO,
        // 0x60
        NONE, NONE, vk::ZOOM, vk::HELP, vk::F13, vk::F14, vk::F15, vk::F16, vk::F17, vk::F18, vk::F19, vk::F20,
        vk::F21, vk::F22, vk::F23, vk::OEM_PA3,
        // 0x70
        NONE, vk::OEM_RESET, NONE, vk::ABNT_C1, NONE, NONE, vk::F24, NONE, NONE, NONE, NONE, vk::OEM_PA1, vk::TAB,
        NONE, vk::ABNT_C2,
    };
}

std::vector<ScanEntry> pcScanCodesE0() {
    // Keypad Enter and Ctrl+Break stand last.
    const uint8_t keys[][2] = {
        {0x10, vk::MEDIA_PREV_TRACK}, {0x19, vk::MEDIA_NEXT_TRACK}, {0x1D, vk::RCONTROL},
        {0x20, vk::VOLUME_MUTE},      {0x21, vk::LAUNCH_APP2},      {0x22, vk::MEDIA_PLAY_PAUSE},
        {0x24, vk::MEDIA_STOP},       {0x2E, vk::VOLUME_DOWN},      {0x30, vk::VOLUME_UP},
        {0x32, vk::BROWSER_HOME},     {0x35, vk::DIVIDE},           {0x37, vk::SNAPSHOT},
        {0x38, vk::RMENU},            {0x47, vk::HOME},             {0x48, vk::UP},
        {0x49, vk::PRIOR},            {0x4B, vk::LEFT},             {0x4D, vk::RIGHT},
        {0x4F, vk::END},              {0x50, vk::DOWN},             {0x51, vk::NEXT},
        {0x52, vk::INSERT},           {0x53, vk::DELETE},           {0x5B, vk::LWIN},
        {0x5C, vk::RWIN},             {0x5D, vk::APPS},             {0x5F, vk::SLEEP},
        {0x65, vk::BROWSER_SEARCH},   {0x66, vk::BROWSER_FAVORITES}, {0x67, vk::BROWSER_REFRESH},
        {0x68, vk::BROWSER_STOP},     {0x69, vk::BROWSER_FORWARD},  {0x6A, vk::BROWSER_BACK},
        {0x6B, vk::LAUNCH_APP1},      {0x6C, vk::LAUNCH_MAIL},      {0x6D, vk::LAUNCH_MEDIA_SELECT},
        {0x1C, vk::RETURN},           {0x46, vk::CANCEL},
    };
    std::vector<ScanEntry> out;
    for (const auto& k : keys) out.push_back({k[0], static_cast<uint16_t>(k[1] | KBDEXT)});
    return out;
}

std::vector<ScanEntry> pcScanCodesE1() { return {{0x1D, vk::PAUSE}}; }

}  // namespace kbd::klc
