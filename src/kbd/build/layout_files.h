// The source files of a layout image, written from a LayoutSource: the
// tables as C++ on the record definitions of include/kbd.h, in the style of
// our own layout's sources (named constants, one row per line, each
// character shown in a comment); the module definition; and what the
// version block (resources/version.rc, the one our image is built with) says
// of the layout.
#pragma once

#include <string>

#include "kbd/model/layout_source.h"

namespace kbd::build {

struct LayoutFiles {
    std::string tables;        // NAME.cpp
    std::string def;           // NAME.def
    std::string versionTexts;  // version_texts.h, for version.rc
};

// Throws kbd::Error when the tables cannot be written with the format's
// records (a row size that no record has, a modifier array of the wrong
// length, a ligature row of the wrong width).
LayoutFiles writeLayoutFiles(const LayoutSource& source);

// A string for the resource compiler: printable ASCII as is, the rest as
// \x escapes of a wide string, so that the resource holds the exact UTF-16.
// Throws kbd::Error when the text is not UTF-8.
std::string rcString(const std::string& utf8Text);

// The file name checked: 1 to 64 letters, digits, '_' or '-'. Empty when it
// is fine, otherwise what is wrong.
std::string nameFault(const std::string& name);

}  // namespace kbd::build
