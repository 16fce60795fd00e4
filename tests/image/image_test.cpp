// The image's properties as an independent PE reader (llvm-readobj) reports
// them: what the loader sees before it reads any table.
#include <array>
#include <cstdio>
#include <regex>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "support/fixture.h"

namespace {

std::string readobj(const std::string& flags) {
    const std::string cmd = std::string(LLVM_READOBJ_PATH) + " " + flags + " '" + kbdtest::imagePath() + "'";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    pclose(p);
    return out;
}

// The value after "Key: " on the first line that has it.
std::string field(const std::string& text, const std::string& key) {
    std::smatch m;
    if (std::regex_search(text, m, std::regex("\\n\\s*" + key + ": ([^\\n]*)"))) return m[1];
    return "<missing>";
}

}  // namespace

TEST(Image, HeaderFigures) {
    const std::string h = readobj("--file-headers");
    EXPECT_EQ(field(h, "Machine"), "IMAGE_FILE_MACHINE_I386 (0x14C)");
    EXPECT_NE(h.find("Characteristics [ (0x2102)"), std::string::npos);
    EXPECT_EQ(field(h, "AddressOfEntryPoint"), "0x0");
    EXPECT_EQ(field(h, "ImageBase"), "0x10000000");
    EXPECT_EQ(field(h, "SectionAlignment"), "4096");
    EXPECT_EQ(field(h, "FileAlignment"), "512");
    for (const char* v : {"OperatingSystem", "Image", "Subsystem"}) {
        EXPECT_EQ(field(h, std::string("Major") + v + "Version"), "5") << v;
        EXPECT_EQ(field(h, std::string("Minor") + v + "Version"), "1") << v;
    }
    EXPECT_EQ(field(h, "Subsystem"), "IMAGE_SUBSYSTEM_NATIVE (0x1)");
    EXPECT_NE(h.find("Characteristics [ (0x400)\n    IMAGE_DLL_CHARACTERISTICS_NO_SEH (0x400)\n  ]"),
              std::string::npos);
    EXPECT_EQ(field(h, "SizeOfStackReserve"), "262144");
    EXPECT_EQ(field(h, "SizeOfStackCommit"), "4096");
    EXPECT_EQ(field(h, "SizeOfHeapReserve"), "1048576");
    EXPECT_EQ(field(h, "SizeOfHeapCommit"), "4096");
    EXPECT_EQ(field(h, "ImportTableRVA"), "0x0");
    EXPECT_EQ(field(h, "DebugRVA"), "0x0");
    const auto img = kbd::MappedImage::load(kbdtest::imagePath());
    EXPECT_EQ(field(h, "CheckSum"), fmt::format("0x{:X}", img.computedChecksum()));
    EXPECT_NE(img.headerChecksum(), 0u);
}

TEST(Image, SectionsInOrderWithTheirAttributes) {
    const std::string s = readobj("--sections");
    std::regex section("Name: (\\S+) [^\\n]*\\n(?:[^\\n]*\\n)*?\\s*Characteristics \\[ \\((0x[0-9A-F]+)\\)");
    std::vector<std::pair<std::string, std::string>> got;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), section); it != std::sregex_iterator(); ++it)
        got.emplace_back((*it)[1], (*it)[2]);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                       {".data", "0x60000040"},   // initialised data, execute, read
                       {".rsrc", "0x42000040"},   // initialised data, discardable, read
                       {".reloc", "0x42000040"},  // initialised data, discardable, read
                   }));
}

TEST(Image, OneExportAndNinetyNineHighLowRelocations) {
    const std::string e = readobj("--coff-exports");
    EXPECT_EQ(field(e, "Ordinal"), "1");
    EXPECT_EQ(field(e, "Name"), "KbdLayerDescriptor");
    const std::regex ordinal("Ordinal:");
    EXPECT_EQ(std::distance(std::sregex_iterator(e.begin(), e.end(), ordinal), std::sregex_iterator()),
              1);
    EXPECT_EQ(kbd::MappedImage::load(kbdtest::imagePath()).exportDllName(), "kbdQelvo.dll");
    const std::string r = readobj("--coff-basereloc");
    size_t highlow = 0, other = 0;
    const std::regex type("Type: (\\w+)");
    for (auto it = std::sregex_iterator(r.begin(), r.end(), type); it != std::sregex_iterator(); ++it)
        ((*it)[1] == "HIGHLOW" ? highlow : other) += (*it)[1] != "ABSOLUTE";
    EXPECT_EQ(highlow, 99u);
    EXPECT_EQ(other, 0u);
}
