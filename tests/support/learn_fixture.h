// A copy of the built image with one character cell, one composition and one
// dead-key name changed, for the tests of diff.
#pragma once

#include <algorithm>

#include "support/fixture.h"

namespace kbdtest {

inline std::vector<uint8_t> threeChanges() {
    ImageCopy c;
    const kbd::Layout& L = layout();
    // AltGr+Q: U+00E4 ä becomes U+0103 ă.
    const auto& table = L.charTables.at(1);
    const auto row = std::find_if(table.rows.begin(), table.rows.end(), [](const auto& r) { return r.vk == 'Q'; });
    const uint64_t cell = c.target("VK_TO_WCHAR_TABLE[1].pVkToWchars") + (row - table.rows.begin()) * table.cbSize +
                          2 + 2 * 3;
    c.bytes[c.offsetOf(cell)] = 0x03;
    c.bytes[c.offsetOf(cell) + 1] = 0x01;
    // Macron then a: U+0101 ā becomes U+01E1 ǡ.
    const auto dk = std::find_if(L.deadKeys.begin(), L.deadKeys.end(),
                                 [](const auto& d) { return d.dead == 0xAF && d.base == 'a'; });
    const uint64_t composed = c.target("KBDTABLES.pDeadKey") + (dk - L.deadKeys.begin()) * 8 + 4;
    c.bytes[c.offsetOf(composed)] = 0xE1;
    // The name of the macron dead key: its first letter becomes X.
    for (size_t i = 0; i < L.deadKeyNames.size(); ++i)
        if (L.deadKeyNames[i].at(0) == 0xAF)
            c.bytes[c.offsetOf(c.target("pKeyNamesDead[" + std::to_string(i) + "]") + 2)] = 'X';
    return c.bytes;
}

}  // namespace kbdtest

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kbdtest {

// kbdtool run with these arguments exactly (no shell between), its exit
// status and what it printed on each stream.
struct Ran {
    int         status = -1;
    std::string out, err;
};

inline Ran runKbdtool(const std::vector<std::string>& args) {
    Ran r;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(err[0]), close(out[1]), close(err[1]);
        std::vector<char*> argv{const_cast<char*>(KBDTOOL_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KBDTOOL_PATH, argv.data());
        _exit(127);
    }
    close(out[1]), close(err[1]);
    // stdout is read to its end first, then stderr: kbdtool writes at most a
    // line or two to stderr, far less than a pipe holds.
    char buf[65536];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
    while ((n = read(err[0], buf, sizeof buf)) > 0) r.err.append(buf, size_t(n));
    close(out[0]), close(err[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace kbdtest
