// The three setups as Windows will see them, read with LLVM's COFF reader:
// built for their machine, importing only Windows system DLLs (no runtime
// beside them), running as their caller, and carrying their identity and the
// four layout images byte for byte.
#include <gtest/gtest.h>

#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Object/COFF.h>
#include <llvm/Object/WindowsResource.h>
#include <llvm/Support/MemoryBuffer.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../../installer/identity.h"

namespace {

namespace COFF = llvm::COFF;
using llvm::object::COFFObjectFile;

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

// A setup opened with LLVM: its DLL imports and its resources by type and id.
struct Opened {
    std::unique_ptr<llvm::MemoryBuffer> buffer;
    std::unique_ptr<COFFObjectFile>     obj;
    std::set<std::string>               dlls;
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint8_t>> resources;

    explicit Opened(const char* path) {
        auto b = llvm::MemoryBuffer::getFile(path);
        if (!b) throw std::runtime_error(std::string("cannot read ") + path);
        buffer = std::move(*b);
        auto o = COFFObjectFile::create(buffer->getMemBufferRef());
        if (!o) throw std::runtime_error(llvm::toString(o.takeError()));
        obj = std::move(*o);
        for (const auto& imp : obj->import_directories()) {
            llvm::StringRef name;
            if (!imp.getName(name)) dlls.insert(llvm::StringRef(name).lower());
        }
        for (const auto& imp : obj->delay_import_directories()) {
            llvm::StringRef name;
            if (!imp.getName(name)) dlls.insert("delay:" + llvm::StringRef(name).lower());
        }
        readResources();
    }

    template <class T>
    static T take(llvm::Expected<T> v) {
        if (!v) throw std::runtime_error(llvm::toString(v.takeError()));
        return std::move(*v);
    }

    // Type, name, first language: the setup's resources have one language each.
    void readResources() {
        llvm::object::ResourceSectionRef rsrc;
        if (auto err = rsrc.load(obj.get())) throw std::runtime_error(llvm::toString(std::move(err)));
        const auto& root = take(rsrc.getBaseTable());
        auto ids = [](const llvm::object::coff_resource_dir_table& t) {
            std::vector<uint32_t> out;
            for (uint32_t i = t.NumberOfNameEntries; i < uint32_t(t.NumberOfNameEntries) + t.NumberOfIDEntries; ++i)
                out.push_back(i);
            return out;
        };
        for (uint32_t t : ids(root)) {
            const auto& typeEntry = take(rsrc.getTableEntry(root, t));
            const auto& names = take(rsrc.getEntrySubDir(typeEntry));
            for (uint32_t n : ids(names)) {
                const auto& nameEntry = take(rsrc.getTableEntry(names, n));
                const auto& langs = take(rsrc.getEntrySubDir(nameEntry));
                const auto& data = take(rsrc.getEntryData(take(rsrc.getTableEntry(langs, 0))));
                const llvm::StringRef contents = take(rsrc.getContents(data));
                resources[{typeEntry.Identifier.ID, nameEntry.Identifier.ID}] =
                    std::vector<uint8_t>(contents.bytes_begin(), contents.bytes_end());
            }
        }
    }
};

}  // namespace

TEST(SetupProgram, EachIsForItsMachineAndImportsOnlySystemDlls) {
    const std::set<std::string> system = {"kernel32.dll", "advapi32.dll", "user32.dll", "shell32.dll"};
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
