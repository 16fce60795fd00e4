// libFuzzer target for the .klc reader: arbitrary bytes are read as a layout
// source; a source that reads is written back and must read as the same
// tables, name, texts, language and version (the writer says everything the
// reader builds).
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "kbd/klc/klc.h"

namespace {

// A text as the writer gives it: double quotes become single quotes.
std::string asWritten(std::string s) {
    std::replace(s.begin(), s.end(), '"', '\'');
    return s;
}

bool sameInfo(const kbd::LayoutInfo& a, const kbd::LayoutInfo& b) {
    return a.name == b.name && asWritten(a.description) == b.description && asWritten(a.company) == b.company &&
           asWritten(a.copyright) == b.copyright && asWritten(a.localeName) == b.localeName &&
           a.localeId == b.localeId && a.versionMajor == b.versionMajor && a.versionMinor == b.versionMinor;
}

void asSource(const uint8_t* data, size_t size) {
    kbd::LayoutSource source;
    try {
        source = kbd::klc::parseKlc(std::span(data, size), "fuzz.klc");
    } catch (const kbd::klc::ParseError& e) {
        if (e.problems().empty()) fuzz::finding("parseKlc", "a refusal without a problem");
        return;
    }
    const auto written = kbd::klc::writeKlc(source);
    const auto back = kbd::klc::parseKlc(written, "written.klc");
    if (!(back.tables == source.tables)) fuzz::finding("writeKlc", "the written source reads as other tables");
    if (!sameInfo(source.info, back.info))
        fuzz::finding("writeKlc", "the written source reads as another name, text, language or version");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::guarded([&] { asSource(data, size); });
}
