// Who the setup is: the layout it installs and the names it goes by. The same
// program serves any layout; what differs is this record, kept as the
// setup's RCDATA resource KBD_RES_IDENTITY: UTF-8 text, one `Key=Value` per
// line (identity.txt.in):
//   File        the layout's file name in System32, such as kbdQelvo.dll
//   Text        the layout's name in the list of keyboards (Layout Text),
//               also the setup's name in the list of programs
//   Marker      the value by which the setup knows a Keyboard Layouts key as
//               its own (it holds the version that wrote the key)
//   Version     four numbers, such as 1.0.3.13
//   Publisher   who made the layout, for the list of programs
//   ActiveSetup the setup's Active Setup component id, a {GUID}
//   Language    optional: the language (4 hex digits) to list the layout
//               under when neither --language nor an installed copy says
// The file name without ".dll" names the entry in the list of programs, the
// folder in Program Files and the kept copy NAME-setup.exe.
// Portable C++ without a library, like the planner.
#pragma once

#include "fixed_text.h"

namespace setup {

// A longer UTF-16 text than Text (a {GUID} has 38 units), NUL-terminated.
struct LongText {
    static constexpr uint16_t kCapacity = 95;
    char16_t unit[kCapacity + 1] = {};
    uint16_t length = 0;
};

struct Identity {
    Text     layoutFile;
    Text     layoutText;
    Text     marker;
    Text     version;
    Text     name;            // layoutFile without ".dll"
    LongText publisher;
    LongText activeSetupId;
    uint16_t language = 0;    // 0: none given
};

// Reads the record; on success returns null, else a line saying what is
// wrong with it (an unknown or repeated key, a missing one, a value that is
// too long or not of its form).
const char* parseIdentity(const unsigned char* bytes, size_t size, Identity& out);

}  // namespace setup
