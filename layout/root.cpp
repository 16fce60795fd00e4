// The root record and the library's one export. The input subsystem calls
// KbdLayerDescriptor once after mapping the image and reads every other
// table through the root's pointers.
#include "layout.h"

namespace {

constinit const KBDTABLES KbdTables = {
    /* pCharModifiers  */ &CharModifiers,
    /* pVkToWcharTable */ aVkToWcharTable,
    /* pDeadKey        */ aDeadKey,
    /* pKeyNames       */ aKeyNames,
    /* pKeyNamesExt    */ aKeyNamesExt,
    /* pKeyNamesDead   */ aKeyNamesDead,
    /* pusVSCtoVK      */ ausVK,
    /* bMaxVSCtoVK     */ SCANCODE_TABLE_SIZE,
    /* pVSCtoVK_E0     */ aE0VscToVk,
    /* pVSCtoVK_E1     */ aE1VscToVk,
    /* fLocaleFlags    */ (KBD_VERSION << 16) | KLLF_ALTGR,
    /* nLgMax          */ 0,
    /* cbLgEntry       */ 0,
    /* pLigature       */ nullptr,
    /* dwType          */ 0,
    /* dwSubType       */ 0,
};

}  // namespace

// The image has no code section: the export's few instructions live in .data
// with the tables, which the link makes readable and executable but not
// writable.
#pragma code_seg(".data")

extern "C" KBD_ROOT KbdLayerDescriptor() {
#if defined(KBD_WOW64)
    return reinterpret_cast<DWORD>(&KbdTables);
#else
    return &KbdTables;
#endif
}
