// What the version block (version.rc) says of kbdQelvo. The version numbers
// KBD_VER_MAJOR, _MINOR, _PATCH and _TWEAK come from the build.
#define KBD_LANG_PRIMARY        0x09        // LANG_ENGLISH
#define KBD_LANG_SUB            0x01        // SUBLANG_ENGLISH_US
#define KBD_STRING_BLOCK        "000004B0"  // the strings: language-neutral, Unicode
#define KBD_TRANSLATION         0x0000      // language-neutral
#define KBD_COMPANY             "The kbdQelvo developers"
#define KBD_DESCRIPTION         "Qelvo Keyboard Layout"
#define KBD_INTERNAL_NAME       "kbdqelvo (" KBD_STR(KBD_VER_PATCH) "." KBD_STR(KBD_VER_TWEAK) ")"
#define KBD_RELEASE_INFORMATION "Built on Linux from the kbdQelvo sources; tables proven by kbdtool"
#define KBD_COPYRIGHT           "Copyright (c) the kbdQelvo developers"
#define KBD_ORIGINAL_FILENAME   "kbdqelvo"
