#include "kbd/model/source_reader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

#include "kbd/image/version.h"
#include "kbd/model/locales.h"

namespace kbd {
namespace {

bool endsWithIgnoringCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
}

// "kbdqelvo.dll" -> "kbdqelvo"; "kbdqelvo (3.4)" -> "kbdqelvo".
std::string fileStem(std::string s) {
    if (const auto space = s.find(' '); space != std::string::npos) s.resize(space);
    if (endsWithIgnoringCase(s, ".dll")) s.resize(s.size() - 4);
    return s;
}

const std::string* stringValue(const VersionInfo& v, std::string_view key) {
    for (const auto& t : v.stringTables)
        for (const auto& [k, value] : t.strings)
            if (k == key) return &value;
    return nullptr;
}

void readInfo(const VersionInfo& v, LayoutInfo& info) {
    auto take = [&](std::string_view key, std::string& to) {
        if (const std::string* s = stringValue(v, key)) to = *s;
    };
    take("FileDescription", info.description);
    take("CompanyName", info.company);
    take("LegalCopyright", info.copyright);
    for (const char* key : {"OriginalFilename", "InternalName"})
        if (const std::string* s = stringValue(v, key); s && !fileStem(*s).empty()) {
            info.name = fileStem(*s);
            break;
        }
    if (v.fixed.signature == 0xFEEF04BD) {
        info.versionMajor = static_cast<uint16_t>(v.fixed.fileVersionMS >> 16);
        info.versionMinor = static_cast<uint16_t>(v.fixed.fileVersionMS);
        info.versionBuild = static_cast<uint16_t>(v.fixed.fileVersionLS >> 16);
        info.versionRevision = static_cast<uint16_t>(v.fixed.fileVersionLS);
    }
    // The resource's language, or the first translation's when the resource
    // is language-neutral.
    uint32_t language = v.language & 0xFFFF;
    if (language == 0 && !v.translations.empty()) language = v.translations.front().first;
    if (language != 0) info.localeId = language;
}

}  // namespace

LayoutInfo readLayoutInfo(const MappedImage& image) {
    LayoutInfo info;
    if (const auto v = readVersion(image)) readInfo(*v, info);
    if (const auto locale = localeById(info.localeId)) info.localeName = locale->name;
    return info;
}

LayoutSource readLayoutSource(const MappedImage& image, const DecodeOptions& options) {
    return {decode(image, options).layout, readLayoutInfo(image)};
}

LayoutSource readLayoutSource(const std::string& path, std::optional<uint64_t> base, const DecodeOptions& options) {
    LayoutSource source = readLayoutSource(MappedImage::load(path, base), options);
    if (source.info.name.empty()) source.info.name = fileStem(std::filesystem::path(path).filename().string());
    return source;
}

}  // namespace kbd
