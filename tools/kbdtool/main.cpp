// kbdtool: reads a Windows keyboard-layout image, as the input subsystem
// would, and shows what it does.
//
// Exit codes: 0 success; 1 the file or the key sequence is at fault (one line
// on stderr says what); 2 the command line is wrong.
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "check.h"
#include "decode.h"
#include "draw.h"
#include "dump.h"
#include "json.h"
#include "keyseq.h"
#include "text.h"
#include "format.h"

namespace {

using namespace kbd;

std::optional<uint64_t> parseBase(const std::string& s) {
    if (s.empty()) return std::nullopt;
    size_t used = 0;
    uint64_t v = 0;
    try {
        v = std::stoull(s, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != s.size() || v % kBaseAlignment != 0)
        throw Error(fmt::format("--base '{}': give a 64 KiB-aligned address such as 0x20000000", s));
    return v;
}

std::string describe(const Typed& t, const Session& s) {
    const auto& r = t.result;
    if (r.vk == vk::CAPITAL) return fmt::format("Caps Lock {}", s.capsLock() ? "on" : "off");
    if (r.vk == vk::NUMLOCK) return fmt::format("Num Lock {}", s.numLock() ? "on" : "off");
    if (r.vk == def::VK_NONE) return "(no key)";
    if (!r.out.empty()) {
        std::string o;
        for (char16_t c : r.out) o += (o.empty() ? "" : ", ") + charLabel(c);
        return r.composed ? o + " (composed)" : o;
    }
    if (r.composed) return "(composed into a dead key)";
    if (r.key.kind == KeyChar::Kind::Dead) return fmt::format("dead key {}", charLabel(r.key.ch));
    return "(no character)";
}

int run(int argc, char** argv) {
    CLI::App app{"kbdtool: read a Windows keyboard-layout DLL on any OS, check it and type through it.\n"
                 "Example: kbdtool type kbdQelvo.dll CapsLock AltGr+q"};
    app.require_subcommand(1);
    app.footer("Exit status: 0 success; 1 the file or a key is at fault, or check found a problem\n"
               "(one line on stderr says what); 2 a wrong command line.");
    std::string file, base;

    auto* dump = app.add_subcommand("dump", "Print every table of the layout.\nExample: kbdtool dump kbdQelvo.dll");
    dump->add_option("FILE", file, "layout image (.dll)")->required();
    bool json = false;
    dump->add_flag("--json", json, "print the whole model as JSON (shape: docs/json.md)");

    std::vector<std::string> keys;
    bool caps = false, numOff = false;
    auto* typeCmd = app.add_subcommand(
        "type",
        "Type a key sequence and print what comes out.\n"
        "Each KEY is a chord: held modifiers, then one key, joined by '+': q, Shift+4, AltGr+q, Ctrl+Back,\n"
        "CapsLock (toggles), sc:10 (scan code), e0:38+sc:10 (right Alt by scan code, then Q).\n"
        "Example: kbdtool type kbdQelvo.dll Shift+4 a");
    typeCmd->add_option("FILE", file, "layout image (.dll)")->required();
    typeCmd->add_option("KEY", keys, "chords to type, in order")->required();
    typeCmd->add_flag("--caps", caps, "start with Caps Lock on");
    typeCmd->add_flag("--numlock-off", numOff, "start with Num Lock off (it starts on)");
    typeCmd->add_flag("--json", json, "print one JSON object per chord and the text, as one JSON document");

    auto* names = app.add_subcommand("names", "List the key names and dead-key names.\nExample: kbdtool names kbdQelvo.dll");
    names->add_option("FILE", file, "layout image (.dll)")->required();

    auto* check = app.add_subcommand(
        "check",
        "Check that a layout image is safe to load: one line per problem, exit 1 if any.\n"
        "Notes (legal but worth knowing) do not fail the check.\nExample: kbdtool check kbdQelvo.dll");
    check->add_option("FILE", file, "layout image (.dll)")->required();

    std::string outDir;
    auto* draw = app.add_subcommand(
        "draw",
        "Write SVG pictures of the layout: the keyboard in each shift state, and a sheet per dead key.\n"
        "Example: kbdtool draw kbdQelvo.dll --out pictures");
    draw->add_option("FILE", file, "layout image (.dll)")->required();
    draw->add_option("--out", outDir, "folder for the SVG files (created if missing)")->required();

    for (auto* sub : {dump, typeCmd, names, check, draw})
        sub->add_option("--base", base,
                        "map the image at this address, a multiple of 64 KiB, instead of its preferred base");
    unsigned pointerSize = 0;
    for (auto* sub : {dump, typeCmd, names, draw})
        sub->add_option("--pointer-size", pointerSize,
                        "width of the tables' pointer fields: 4 or 8 (default: detected; 8 is a WOW64 image)")
            ->check(CLI::IsMember({4u, 8u}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    const std::optional<uint64_t> at = parseBase(base);
    if (*check) {
        const CheckReport r = checkImage(inFile(file, [&] { return MappedImage::load(file, at); }));
        for (const auto& f : r.findings)
            std::cout << (f.level == Finding::Level::Error ? "error: " : "note: ") << f.message << "\n";
        std::cout << fmt::format("{}: {}\n", file, r.ok() ? "ok" : "check failed");
        return r.ok() ? 0 : 1;
    }
    const Decoded d = inFile(file, [&] { return decodeFile(file, at, {pointerSize}); });
    if (*draw) {
        for (const auto& path : writeDrawings(d.layout, outDir)) std::cout << path << "\n";
    } else if (*dump) {
        if (json)
            std::cout << toJson(d).dump(1) << "\n";
        else
            std::cout << dumpText(d);
    } else if (*names) {
        std::cout << namesText(d.layout);
    } else {
        std::vector<Chord> chords;
        for (const auto& k : keys) chords.push_back(parseChord(k));  // all parsed before any is typed
        Session s(d.layout);
        s.setCapsLock(caps);
        s.setNumLock(!numOff);
        std::u16string text;
        size_t width = 0;
        for (const auto& c : chords) width = std::max(width, c.text.size());
        nlohmann::json events = nlohmann::json::array();
        for (const auto& c : chords) {
            const Typed t = type(s, d.layout, c);
            text += t.result.out;
            if (json)
                events.push_back(toJson(t, s));
            else
                std::cout << fmt::format("{:<{}}  {}\n", c.text, width, describe(t, s));
        }
        if (json) {
            std::cout << nlohmann::json{{"events", events},
                                        {"text", utf8(text)},
                                        {"output", std::vector<uint16_t>(text.begin(), text.end())},
                                        {"pendingDead", s.pendingDead() ? nlohmann::json(*s.pendingDead()) : nlohmann::json(nullptr)}}
                             .dump(1)
                      << "\n";
            return 0;
        }
        if (const auto p = s.pendingDead()) std::cout << fmt::format("(dead key {} still pending)\n", charLabel(*p));
        std::cout << "text: " << utf8(text) << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const kbd::Error& e) {
        std::cerr << "kbdtool: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kbdtool: internal error: " << e.what() << "\n";
        return 1;
    }
}
