// A Windows program opened with LLVM's COFF reader: its DLL imports and its
// resources by type and id (the setups' tests read them).
#pragma once

#include <llvm/Object/COFF.h>
#include <llvm/Object/WindowsResource.h>
#include <llvm/Support/MemoryBuffer.h>

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace kbdtest {

using llvm::object::COFFObjectFile;

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

}  // namespace kbdtest
