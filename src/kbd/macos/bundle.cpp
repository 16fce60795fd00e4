// Writing the keyboard-layout bundle: Contents/Info.plist, the .keylayout
// under Contents/Resources, Contents/version.plist; then report.json beside
// the bundle. Both are written under temporary names and renamed into
// place, so a failure part way leaves nothing half-written.
#include <fstream>

#include <fmt/format.h>

#include "kbd/image/error.h"
#include "kbd/macos/export.h"

namespace kbd::macos {
namespace {

namespace fs = std::filesystem;

std::string xmlText(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// A bundle identifier holds only letters, digits, '-' and '.': ASCII letters
// and digits stay, every other byte of the name becomes '-' and two hex
// digits, so different names give different identifiers.
std::string bundleId(const std::string& name) {
    std::string id;
    for (unsigned char c : name)
        id += c < 0x80 && std::isalnum(c) ? std::string(1, char(c)) : fmt::format("-{:02X}", c);
    return "org.kbdtool.keyboardlayout." + id;
}

constexpr const char* kPlistHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n";

std::string infoPlist(const Export& e) {
    const std::string n = xmlText(e.name);
    return fmt::format("{}"
                       "    <key>CFBundleIdentifier</key>\n    <string>{}</string>\n"
                       "    <key>CFBundleName</key>\n    <string>{}</string>\n"
                       "    <key>CFBundleVersion</key>\n    <string>1.0</string>\n"
                       "    <key>KLInfo_{}</key>\n    <dict>\n"
                       "        <key>TISInputSourceID</key>\n        <string>{}.{}</string>\n"
                       "        <key>TISIntendedLanguage</key>\n        <string>und</string>\n"
                       "    </dict>\n"
                       "</dict>\n</plist>\n",
                       kPlistHead, xmlText(bundleId(e.name)), n, n, xmlText(bundleId(e.name)), n);
}

std::string versionPlist() {
    return fmt::format("{}"
                       "    <key>BuildVersion</key>\n    <string>1</string>\n"
                       "    <key>CFBundleVersion</key>\n    <string>1.0</string>\n"
                       "    <key>ProjectName</key>\n    <string>kbdtool</string>\n"
                       "    <key>SourceVersion</key>\n    <string>1</string>\n"
                       "</dict>\n</plist>\n",
                       kPlistHead);
}

void writeFile(const fs::path& p, const std::string& text) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    if (ec) throw Error(fmt::format("{}: cannot create the folder ({})", p.parent_path().string(), ec.message()));
    std::ofstream f(p, std::ios::binary);
    f << text;
    f.close();
    if (!f) throw Error(fmt::format("{}: cannot write", p.string()));
}

}  // namespace

std::vector<WrittenFile> write(const Export& e, const fs::path& dir) {
    const std::string bundle = e.name + ".bundle";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Contents/Info.plist", infoPlist(e)},
        {"Contents/version.plist", versionPlist()},
        {"Contents/Resources/" + e.name + ".keylayout", e.keylayout},
    };
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw Error(fmt::format("{}: cannot create the folder ({})", dir.string(), ec.message()));
    // The bundle and the report are written under temporary names first;
    // the bundle is renamed into place, then the report, and when the
    // report cannot follow, the bundle goes again.
    const fs::path tmp = dir / fmt::format(".{}.tmp{}", bundle, ::getpid());
    const fs::path tmpReport = dir / fmt::format(".report.json.tmp{}", ::getpid());
    const auto cleanUp = [&] {
        std::error_code ignored;
        fs::remove_all(tmp, ignored);
        fs::remove(tmpReport, ignored);
    };
    cleanUp();
    std::vector<WrittenFile> written;
    bool placed = false;
    try {
        for (const auto& [rel, text] : files) {
            writeFile(tmp / rel, text);
            written.push_back({bundle + "/" + rel, text.size()});
        }
        const std::string r = report(e, written).dump(1) + "\n";
        writeFile(tmpReport, r);
        fs::remove_all(dir / bundle);
        fs::rename(tmp, dir / bundle);
        placed = true;
        fs::rename(tmpReport, dir / "report.json");
        written.push_back({"report.json", r.size()});
    } catch (const fs::filesystem_error& x) {
        cleanUp();
        if (placed) fs::remove_all(dir / bundle, ec);
        throw Error(fmt::format("{}: cannot put the bundle in place ({})", (dir / bundle).string(), x.code().message()));
    } catch (...) {
        cleanUp();
        if (placed) fs::remove_all(dir / bundle, ec);
        throw;
    }
    return written;
}

nlohmann::json report(const Export& e, const std::vector<WrittenFile>& files) {
    nlohmann::json j;
    j["format"] = "kbdtool-macos-report";
    j["name"] = e.name;
    j["source"] = e.source;
    j["group"] = kGroup;
    j["id"] = e.id;
    j["files"] = nlohmann::json::array();
    for (const auto& f : files) j["files"].push_back({{"path", f.path}, {"size", f.size}});
    j["keys"] = e.keys;
    j["keyMaps"] = e.maps;
    j["deadStates"] = e.states;
    j["actions"] = e.actions;
    j["approximations"] = nlohmann::json::array();
    for (const auto& a : e.approximations)
        j["approximations"].push_back({{"kind", a.kind}, {"count", a.count}, {"message", a.message}});
    return j;
}

}  // namespace kbd::macos
