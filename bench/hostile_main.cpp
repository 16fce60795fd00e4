// Writes the hostile variants of a layout image into a folder, one file
// each, for scripts/hostile to run kbdtool on. Prints one line per file:
// its name, size in bytes and what it is.
//
//   kbd_hostile_inputs IMAGE OUTDIR
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/hostile.h"

namespace {

struct Input {
    const char*                                     name;
    const char*                                     what;
    std::function<hostile::Bytes(const hostile::Bytes&)> make;  // empty: 200 MB of zeros
};

const std::vector<Input> kInputs = {
    {"shared-65535x65535.dll", "65,535 character tables sharing one 65,535-row block",
     [](const hostile::Bytes& b) { return hostile::sharedRows(b, 65535, 65535); }},
    {"shared-8x65535.dll", "8 character tables sharing one 65,535-row block",
     [](const hostile::Bytes& b) { return hostile::sharedRows(b, 8, 65535); }},
    {"shared-1x65535.dll", "1 character table of 65,535 rows",
     [](const hostile::Bytes& b) { return hostile::sharedRows(b, 1, 65535); }},
    {"shared-65535x1250.dll", "65,535 character tables sharing one 1,250-row block (under 1 MB)",
     [](const hostile::Bytes& b) { return hostile::sharedRows(b, 65535, 1250); }},
    {"shared-1x3800.dll", "1 character table of 3,800 rows (under 1 MB)",
     [](const hostile::Bytes& b) { return hostile::sharedRows(b, 1, 3800); }},
    {"relocs-22M.dll", "a base-relocation table of 22,000,000 entries",
     [](const hostile::Bytes& b) { return hostile::manyRelocations(b, 22'000'000); }},
    {"relocs-400K.dll", "a base-relocation table of 400,000 entries (under 1 MB)",
     [](const hostile::Bytes& b) { return hostile::manyRelocations(b, 400'000); }},
    {"zeros-200M", "200 MB of zero bytes", nullptr},
    {"hlt.dll", "the export's first instruction is hlt",
     [](const hostile::Bytes& b) { return hostile::haltingExport(b); }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kbd_hostile_inputs IMAGE OUTDIR\n");
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) throw std::runtime_error(std::string("cannot open ") + argv[1]);
        const hostile::Bytes image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::filesystem::path dir = argv[2];
        std::filesystem::create_directories(dir);
        for (const Input& i : kInputs) {
            const std::filesystem::path path = dir / i.name;
            if (i.make) {
                const hostile::Bytes bytes = i.make(image);
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                if (!out) throw std::runtime_error("cannot write " + path.string());
            } else {
                std::ofstream(path, std::ios::binary | std::ios::trunc).close();
                std::filesystem::resize_file(path, 200'000'000);  // sparse: reads as zeros
            }
            std::printf("%s\t%ju\t%s\n", i.name, static_cast<uintmax_t>(std::filesystem::file_size(path)), i.what);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kbd_hostile_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
