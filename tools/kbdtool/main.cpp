// kbdtool: reads a Windows keyboard-layout image, as the input subsystem
// would, and shows what it does.
//
// Exit codes: 0 success; 1 the file or the key sequence is at fault (one line
// on stderr says what); 2 the command line is wrong.
#include <exception>
#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

<<<<<<< HEAD
#include "command.h"
=======
#include "kbd/views/unicode_names.h"
#include "kbd/check/check.h"
#include "kbd/model/decoder.h"
#include "kbd/views/diff.h"
#include "kbd/views/draw.h"
#include "kbd/views/dump.h"
#include "kbd/views/find_report.h"
#include "kbd/views/page.h"
#include "kbd/model/layout_json.h"
#include "kbd/typing/typed_json.h"
#include "kbd/typing/chords.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"
#include "kbd/macos/export.h"
#include "kbd/xkb/export.h"
>>>>>>> 0a77fc6 (kbdtool export --macos: a keyboard-layout bundle with one .keylayout (keys by Mac key code from the PC key table, a key map per Shift, Caps Lock and Option combination, Command keeping the Latin letters, dead keys as actions, states and terminators), built aside and renamed into place)

namespace {

int run(int argc, char** argv) {
    CLI::App app{"kbdtool: read a Windows keyboard-layout DLL on any OS, check it and type through it.\n"
                 "Example: kbdtool type kbdQelvo.dll CapsLock AltGr+q"};
    app.require_subcommand(1);
    app.footer("Exit status: 0 success; 1 the file or a key is at fault, check found a problem, find met a\n"
               "character the layout lacks, or diff found differences (one line on stderr says what went wrong);\n"
               "2 a wrong command line, or a file diff could not read.");
<<<<<<< HEAD
    using namespace kbdtool;
    const std::vector<Command> commands = {addDump(app), addType(app),   addNames(app), addCheck(app), addDraw(app),
                                           addExport(app), addFind(app), addHtml(app),  addDiff(app)};
=======
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
        "A key is named three ways:\n"
        "  by virtual key   q, 4, Space, OEM_3, Kana: q is VK_Q, wherever the layout puts it\n"
        "                   (on an AZERTY layout, the key right of Tab)\n"
        "  by position      pos:D01: the key at ISO position D01 (right of Tab), whatever the layout\n"
        "                   makes of it; E00-E12 digit row, D01-D12, C01-C12, B00-B10, A03 space\n"
        "  by scan code     sc:10, e0:38, e1:1d: as the keyboard sends it\n"
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

    std::string xkbDir, macDir, name;
    bool strict = false;
    auto* exportCmd = app.add_subcommand(
        "export",
        "Write the layout in another system's formats.\n"
        "--xkb DIR: for Linux, an XKB keymap (symbols, key types, rules, one complete keymap.xkb) and a Compose\n"
        "file for the dead keys, with report.json and a line on stderr for everything that does not carry over\n"
        "exactly. README \"On Linux\" says where the files go.\n"
        "--macos DIR: for macOS, DIR/NAME.bundle holding NAME.keylayout, with report.json and a line on stderr for\n"
        "everything that does not carry over. README \"On a Mac\" says where the bundle goes.\n"
        "Example: kbdtool export --xkb out kbdQelvo.dll\n         kbdtool export --macos out kbdQelvo.dll");
    exportCmd->add_option("FILE", file, "layout image (.dll)")->required();
    auto* xkbOpt = exportCmd->add_option("--xkb", xkbDir, "folder for the Linux files (created if missing)");
    auto* macOpt = exportCmd->add_option("--macos", macDir, "folder for the macOS bundle (created if missing)");
    xkbOpt->excludes(macOpt);
    exportCmd->add_option("--name", name,
                          "--xkb: layout id of a-z, 0-9, '_' and '-', starting with a letter; --macos: the bundle's "
                          "and layout's name (default: from the file name)");
    exportCmd->add_flag("--strict", strict, "fail, writing nothing, if anything would be approximate");

    std::vector<std::string> texts;
    bool findKeys = false, findAll = false, markdown = false;
    auto* find = app.add_subcommand(
        "find",
        "Show the shortest key sequences that give each character of TEXT: dead keys, AltGr and Caps Lock\n"
        "considered, ties listed, each chord as `type` takes it and each key by its position (ISO names:\n"
        "E04 is the 4 key, D01 the Q key, A03 the space bar). Exit 1 when a character is not on the layout.\n"
        "Example: kbdtool find kbdQelvo.dll ṛ\n"
        "         kbdtool type kbdQelvo.dll $(kbdtool find --keys kbdQelvo.dll rāmāyaṇa)");
    find->add_option("FILE", file, "layout image (.dll)")->required();
    find->add_option("TEXT", texts, "characters to look up (with --keys: the text to type; several are joined by spaces)");
    find->add_flag("--keys", findKeys, "print one key sequence that types the whole text, for `kbdtool type`");
    find->add_flag("--all", findAll, "list every character the layout types, by code point, with its Unicode name");
    find->add_flag("--markdown", markdown, "with --all: a Markdown document (docs/characters.md)");
    find->add_flag("--json", json, "print JSON instead of text");

    std::string pagePath;
    auto* html = app.add_subcommand(
        "html",
        "Write one self-contained HTML page for learning the layout: the keyboard with Shift, AltGr and\n"
        "Caps Lock, typing by clicking or with your own keyboard (by key position), a search for the keys\n"
        "of a character, and the dead-key sheets. It needs no network.\n"
        "Example: kbdtool html kbdQelvo.dll --out kbdQelvo.html");
    html->add_option("FILE", file, "layout image (.dll)")->required();
    html->add_option("--out", pagePath, "the HTML file to write")->required();

    std::string otherFile;
    auto* diff = app.add_subcommand(
        "diff",
        "Show how layout B differs from layout A as a person reads them: settings, modifier columns,\n"
        "what each key gives in each shift state, compositions added, removed or changed, names.\n"
        "Exit status: 0 they are the same (nothing printed); 1 they differ; 2 a file could not be read\n"
        "or the command line is wrong.\nExample: kbdtool diff old/kbdQelvo.dll build/x86/kbdQelvo.dll");
    diff->add_option("A", file, "layout image before")->required();
    diff->add_option("B", otherFile, "layout image after")->required();
    diff->add_flag("--json", json, "print the differences as JSON");

    for (auto* sub : {dump, typeCmd, names, check, draw, exportCmd, find, html, diff})
        sub->add_option("--base", base,
                        "map the image at this address, a multiple of 64 KiB, instead of its preferred base");
    unsigned pointerSize = 0;
    for (auto* sub : {dump, typeCmd, names, draw, exportCmd, find, html, diff})
        sub->add_option("--pointer-size", pointerSize,
                        "width of the tables' pointer fields: 4 or 8 (default: detected; 8 is a WOW64 image)")
            ->check(CLI::IsMember({4u, 8u}));

>>>>>>> 0a77fc6 (kbdtool export --macos: a keyboard-layout bundle with one .keylayout (keys by Mac key code from the PC key table, a key map per Shift, Caps Lock and Option combination, Command keeping the Latin letters, dead keys as actions, states and terminators), built aside and renamed into place)
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
<<<<<<< HEAD
    for (const auto& c : commands)
        if (*c.app) return c.run();
    return 2;
=======

    const std::optional<uint64_t> at = parseBase(base);
    if (*check) {
        const CheckReport r = checkImage(inFile(file, [&] { return MappedImage::load(file, at); }));
        for (const auto& f : r.findings)
            std::cout << (f.level == Finding::Level::Error ? "error: " : "note: ") << f.message << "\n";
        std::cout << fmt::format("{}: {}\n", file, r.ok() ? "ok" : "check failed");
        return r.ok() ? 0 : 1;
    }
    if (*diff) {
        // A file that cannot be read is trouble, not a difference: exit 2, so
        // that a script never takes it for "they differ".
        std::optional<Decoded> a, b;
        try {
            a = inFile(file, [&] { return decodeFile(file, at, {pointerSize}); });
            b = inFile(otherFile, [&] { return decodeFile(otherFile, at, {pointerSize}); });
        } catch (const Error& e) {
            std::cerr << "kbdtool: " << e.what() << "\n";
            return 2;
        }
        const std::vector<Change> changes = diffLayouts(a->layout, b->layout);
        if (json)
            std::cout << diffJson(changes).dump(1) << "\n";
        else
            std::cout << diffText(changes);
        return changes.empty() ? 0 : 1;
    }
    if (*find && !findAll && texts.empty()) {
        std::cerr << "kbdtool find: give the TEXT to look up, or --all\n";
        return 2;
    }
    const Decoded d = inFile(file, [&] { return decodeFile(file, at, {pointerSize}); });
    if (*find) {
        const Finder finder(d.layout);
        if (findAll) {
            std::cout << (json ? allJson(finder).dump(1) + "\n" : markdown ? allMarkdown(finder) : allText(finder));
            return 0;
        }
        std::string joined;
        for (const auto& t : texts) joined += (joined.empty() || !findKeys ? "" : " ") + t;
        const std::u16string text = fromUtf8(joined);
        if (findKeys) {
            const Sequence seq = keysFor(finder, text);
            std::cout << (json ? keysJson(text, seq).dump(1) : seq.chords()) << "\n";
            return 0;
        }
        bool allFound = true;
        if (json)
            std::cout << charactersJson(finder, text, allFound).dump(1) << "\n";
        else
            std::cout << charactersText(finder, text, allFound);
        return allFound ? 0 : 1;
    }
    if (*html) {
        writePage(Finder(d.layout), std::filesystem::path(file).stem().string(), pagePath);
        std::cout << pagePath << "\n";
        return 0;
    }
    if (*draw) {
        for (const auto& path : writeDrawings(d.layout, outDir)) std::cout << path << "\n";
    } else if (*dump) {
        if (json)
            std::cout << toJson(d).dump(1) << "\n";
        else
            std::cout << dumpText(d);
    } else if (*names) {
        std::cout << namesText(d.layout);
    } else if (*exportCmd && xkbDir.empty() && macDir.empty()) {
        throw Error("export: give --xkb DIR or --macos DIR");
    } else if (*exportCmd && !macDir.empty()) {
        if (!name.empty())
            if (const auto fault = macos::nameFault(name); !fault.empty()) throw Error("--name: " + fault);
        const auto e = macos::plan(d.layout, name.empty() ? macos::defaultName(file) : name,
                                   std::filesystem::path(file).filename().string());
        for (const auto& a : e.approximations) std::cerr << "kbdtool: export: approximate: " << a.message << "\n";
        if (strict && !e.approximations.empty())
            throw Error(fmt::format("--strict: {} things would be approximate; nothing written", e.approximations.size()));
        for (const auto& f : macos::write(e, macDir))
            std::cout << fmt::format("{}  {} bytes\n", (std::filesystem::path(macDir) / f.path).string(), f.size);
    } else if (*exportCmd) {
        if (!name.empty() && !xkb::validName(name))
            throw Error("--name: a-z, 0-9, '_' and '-', starting with a letter");
        const auto e = xkb::plan(d.layout, name.empty() ? xkb::defaultName(file) : name,
                                 std::filesystem::path(file).filename().string());
        for (const auto& a : e.approximations) std::cerr << "kbdtool: export: approximate: " << a.message << "\n";
        if (strict && !e.approximations.empty())
            throw Error(fmt::format("--strict: {} things would be approximate; nothing written", e.approximations.size()));
        for (const auto& f : xkb::write(e, xkbDir))
            std::cout << fmt::format("{}  {} bytes\n", (std::filesystem::path(xkbDir) / f.path).string(), f.size);
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
            const bool kanaBefore = s.kanaLock(), capsBefore = s.capsLock();
            const Typed t = type(s, d.layout, c);
            text += t.result.out;
            if (json)
                events.push_back(toJson(t, s));
            else
                std::cout << fmt::format("{:<{}}  {}\n", c.text, width, describe(t, s, kanaBefore, capsBefore));
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
>>>>>>> 0a77fc6 (kbdtool export --macos: a keyboard-layout bundle with one .keylayout (keys by Mac key code from the PC key table, a key map per Shift, Caps Lock and Option combination, Command keeping the Latin letters, dead keys as actions, states and terminators), built aside and renamed into place)
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const kbdtool::UsageError& e) {
        std::cerr << "kbdtool: " << e.what() << "\n";
        return 2;
    } catch (const kbd::Error& e) {
        std::cerr << "kbdtool: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "kbdtool: internal error: " << e.what() << "\n";
        return 1;
    }
}
