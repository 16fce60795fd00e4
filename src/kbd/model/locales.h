// Windows language identifiers (LCIDs) and the BCP 47 names and English
// display names they go by, for the languages layouts are commonly made for.
// A layout's source names its language both ways; the image keeps only the
// number.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kbd {

struct Locale {
    uint16_t         id = 0;       // LCID, 0x0409
    std::string_view name;         // "en-US"
    std::string_view displayName;  // "English (United States)"
};

std::optional<Locale> localeById(uint32_t id);
std::optional<Locale> localeByName(std::string_view name);  // any case

}  // namespace kbd
