// Writing the keyboard-layout bundle: Contents/Info.plist, the .keylayout
// under Contents/Resources, Contents/version.plist; then report.json beside
// the bundle. The bundle is built under a temporary name and renamed into
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

// A bundle identifier holds only letters, digits, '-' and '.'.
std::string bundleId(const std::string& name) {
    std::string id;
    for (unsigned char c : name) id += std::isalnum(c) && c < 0x80 ? char(c) : '-';
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
    const fs::path tmp = dir / fmt::format(".{}.tmp{}", bundle, ::getpid());
    fs::remove_all(tmp, ec);
    std::vector<WrittenFile> written;
    try {
        for (const auto& [rel, text] : files) {
            writeFile(tmp / rel, text);
            written.push_back({bundle + "/" + rel, text.size()});
        }
        fs::remove_all(dir / bundle, ec);
        fs::rename(tmp, dir / bundle);
    } catch (const fs::filesystem_error& x) {
        fs::remove_all(tmp, ec);
        throw Error(fmt::format("{}: cannot put the bundle in place ({})", (dir / bundle).string(), x.code().message()));
    } catch (...) {
        fs::remove_all(tmp, ec);
        throw;
    }
    const std::string r = report(e, written).dump(1) + "\n";
    writeFile(dir / "report.json", r);
    written.push_back({"report.json", r.size()});
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
    j["deadStates"] = e.states;
    j["actions"] = e.actions;
    j["approximations"] = nlohmann::json::array();
    for (const auto& a : e.approximations)
        j["approximations"].push_back({{"kind", a.kind}, {"count", a.count}, {"message", a.message}});
    return j;
}

}  // namespace kbd::macos
