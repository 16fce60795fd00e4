// A structural check of any keyboard-layout image: what the input subsystem
// needs to load it safely, and whether its tables agree with one another.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kbd/model/decoder.h"
#include "kbd/image/mapped_image.h"

namespace kbd {

struct Finding {
    enum class Level { Error, Note };
    Level       level = Level::Error;
    std::string message;
};

struct CheckReport {
    std::vector<Finding> findings;
    unsigned             pointerSize = 0;  // of the tree, when it decoded
    std::optional<Decoded> tree;           // the tree as read at the image's own base, when it decoded
    bool ok() const {
        for (const auto& f : findings)
            if (f.level == Finding::Level::Error) return false;
        return true;
    }
};

// Checks a mapped image. Never throws for a fault of the image: every fault
// is a finding.
CheckReport checkImage(const MappedImage& image);

}  // namespace kbd
