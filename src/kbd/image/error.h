// The one error type of the host tools. A thrower says what is at fault and
// where (the field, offset or address); it does not name the file. Whoever
// opened the file adds its name once, with inFile, as the command does
// before it prints the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace kbd {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An address, offset or size as messages show it: "0x1F40".
inline std::string hex(uint64_t v) { return fmt::format("0x{:X}", v); }

// Runs f and returns what it returns; an Error it throws comes back as
// "file: message".
template <class F>
decltype(auto) inFile(const std::string& file, F&& f) {
    try {
        return std::forward<F>(f)();
    } catch (const Error& e) {
        throw Error(file + ": " + e.what());
    }
}

}  // namespace kbd
