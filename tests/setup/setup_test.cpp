// The three setups as Windows will see them, read with LLVM's COFF reader:
// built for their machine, importing only Windows system DLLs (no runtime
// beside them), running as their caller, and carrying their identity and the
// four layout images byte for byte.
#include <gtest/gtest.h>

#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Object/COFF.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../../installer/identity.h"
#include "support/setup_file.h"

namespace {

namespace COFF = llvm::COFF;
using kbdtest::Opened;

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct SetupFile {
    const char* name;
    const char* path;
    uint16_t    machine;
};

const SetupFile kSetups[] = {
    {"x86", KBD_SETUP_X86_PATH, COFF::IMAGE_FILE_MACHINE_I386},
    {"x64", KBD_SETUP_X64_PATH, COFF::IMAGE_FILE_MACHINE_AMD64},
    {"arm64", KBD_SETUP_ARM64_PATH, COFF::IMAGE_FILE_MACHINE_ARM64},
};

}  // namespace

TEST(SetupProgram, EachIsForItsMachineAndImportsOnlySystemDlls) {
    const std::set<std::string> system = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll",
                                          "wtsapi32.dll"};
    for (const SetupFile& s : kSetups) {
        SCOPED_TRACE(s.name);
        Opened o(s.path);
        EXPECT_EQ(o.obj->getMachine(), s.machine);
        const auto* pe = o.obj->getPE32Header();
        const auto* pe64 = o.obj->getPE32PlusHeader();
        ASSERT_TRUE(pe || pe64);
        EXPECT_EQ(pe ? pe->Subsystem : pe64->Subsystem, COFF::IMAGE_SUBSYSTEM_WINDOWS_GUI);
        EXPECT_FALSE(o.dlls.empty());
        for (const std::string& dll : o.dlls) EXPECT_TRUE(system.count(dll)) << "imports " << dll;
        // No thread-local storage: nothing that would need a runtime's start-up.
        EXPECT_EQ(o.obj->getDataDirectory(COFF::TLS_TABLE) ? o.obj->getDataDirectory(COFF::TLS_TABLE)->Size : 0u, 0u);
    }
}

TEST(SetupProgram, ManifestRunsAsTheCallerWhoseRightsTheSetupRaisesItself) {
    for (const SetupFile& s : kSetups) {
        SCOPED_TRACE(s.name);
        Opened o(s.path);
        const auto it = o.resources.find({24 /* RT_MANIFEST */, 1});
        ASSERT_NE(it, o.resources.end()) << "no manifest resource 1";
        const std::string manifest(it->second.begin(), it->second.end());
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
        EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    }
}

TEST(SetupProgram, CarriesItsIdentityAndTheFourBuiltImagesByteForByte) {
    const std::pair<uint32_t, const char*> images[] = {
        {101, KBD_IMAGE_PATH}, {102, KBD_IMAGE_X64_PATH}, {103, KBD_IMAGE_ARM64_PATH}, {104, KBD_IMAGE_WOW64_PATH}};
    for (const SetupFile& s : kSetups) {
        SCOPED_TRACE(s.name);
        Opened o(s.path);
        size_t rcdata = 0;
        for (const auto& [key, bytes] : o.resources) rcdata += key.first == 10;
        EXPECT_EQ(rcdata, 5u);
        const auto identity = o.resources.find({10 /* RT_RCDATA */, 100});
        ASSERT_NE(identity, o.resources.end()) << "no identity";
        setup::Identity id;
        ASSERT_EQ(setup::parseIdentity(identity->second.data(), identity->second.size(), id), nullptr);
        EXPECT_EQ(std::u16string(id.layoutFile.unit), u"kbdQelvo.dll");
        for (const auto& [id, path] : images) {
            const auto it = o.resources.find({10 /* RT_RCDATA */, id});
            ASSERT_NE(it, o.resources.end()) << "no image " << id;
            EXPECT_TRUE(it->second == fileBytes(path)) << "image " << id << " differs from " << path;
        }
    }
}
