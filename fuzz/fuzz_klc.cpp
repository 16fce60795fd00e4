// libFuzzer target for the .klc reader: arbitrary bytes are read as a layout
// source; a source that reads is written back and must read as the same
// tables (the writer says everything the reader builds).
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "kbd/klc/klc.h"

namespace {

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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::guarded([&] { asSource(data, size); });
}
