#include "command.h"

#include <exception>

#include <fmt/format.h>

#include "kbd/image/mapped_image.h"

namespace kbdtool {

std::optional<uint64_t> Input::at() const {
    if (base.empty()) return std::nullopt;
    size_t used = 0;
    uint64_t v = 0;
    try {
        v = std::stoull(base, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != base.size() || v % kbd::kBaseAlignment != 0)
        throw UsageError(fmt::format("--base '{}': give a 64 KiB-aligned address such as 0x20000000", base));
    return v;
}

kbd::Decoded Input::decode(const std::string& path) const {
    const auto a = at();
    return kbd::inFile(path, [&] { return kbd::decodeFile(path, a, {pointerSize}); });
}

void addMappingOptions(CLI::App* sub, Input& in, bool pointerSize) {
    sub->add_option("--base", in.base, "map the image at this address, a multiple of 64 KiB, instead of its preferred base");
    if (pointerSize)
        sub->add_option("--pointer-size", in.pointerSize,
                        "width of the tables' pointer fields: 4 or 8 (default: detected; 8 is a WOW64 image)")
            ->check(CLI::IsMember({4u, 8u}));
}

}  // namespace kbdtool
