// The .klc layout source: a line-oriented text (UTF-16 LE with a byte-order
// mark, or UTF-8) of sections KBD, COPYRIGHT, COMPANY, LOCALENAME, LOCALEID,
// VERSION, ATTRIBUTES, SHIFTSTATE, LAYOUT, LIGATURE, DEADKEY, KEYNAME,
// KEYNAME_EXT, KEYNAME_DEAD, DESCRIPTIONS, LANGUAGENAMES and ENDKBD.
//
// How a source becomes tables (and how the writer lays tables out so that
// they come back the same):
//  - SHIFTSTATE lists one modifier mask per column; every other mask up to
//    wMaxModBits (at least 7) is SHFT_INVALID. The modifier rows are Shift,
//    Ctrl and Alt, and Kana when a listed mask holds KBDKANA.
//  - A LAYOUT row goes into the character table as wide as the cells written
//    on its line; tables stand in the order their first row appears, rows in
//    line order. A row with no cells only maps its scan code.
//  - A dead cell (`0060@`) is WCH_DEAD, and the row after the key's row holds
//    the dead characters (VirtualKey 0xFF, WCH_NONE elsewhere). An SGCap
//    row's next line gives the Caps Lock characters; when the key also has
//    dead cells that one row serves both and carries the key's own virtual key.
//  - Scan codes start from the standard PC table (kbd_scancodes.inc); LAYOUT
//    rows re-map codes, `e0XX` codes are E0 rows (kept in place, new ones
//    appended). The root's type and subtype are 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kbd/image/error.h"
#include "kbd/model/layout_source.h"

namespace kbd::klc {

// The largest source read, the longest ligature a source may give, and the
// longest layout name (the file name without ".dll"; 8 is the custom, longer
// names load as well).
inline constexpr size_t kMaxFileBytes = 1 << 20;
inline constexpr size_t kMaxName = 32;
inline constexpr unsigned kMaxLigature = 16;

struct Problem {
    unsigned    line = 0;    // 1-based
    unsigned    column = 0;  // 1-based, in characters
    std::string message;
};

// Every problem of a source, one "FILE:LINE:COLUMN: message" line each.
class ParseError : public Error {
public:
    ParseError(std::string file, std::vector<Problem> problems);
    const std::vector<Problem>& problems() const { return problems_; }

private:
    std::vector<Problem> problems_;
};

// Reads a source; throws ParseError listing every problem found, so nothing
// is built from a faulty source. `file` names the source in the messages.
LayoutSource parseKlc(std::span<const uint8_t> bytes, std::string_view file = "layout.klc");

// The source of a layout: UTF-16 LE with a byte-order mark, CRLF lines.
std::vector<uint8_t> writeKlc(const LayoutSource& source);

// What a .klc source cannot say about these tables, one sentence each: the
// ways parseKlc(writeKlc(layout)) would differ from the layout.
std::vector<std::string> unsaid(const LayoutSource& source);

}  // namespace kbd::klc
