// Instructions a layout's export may not reach: it runs with no operating
// system beneath it and must only compute and return the address of its
// tables. The CPU model would run most of these quietly (it executes at the
// highest privilege and has no devices), so the emulator looks at each
// instruction before it runs and stops at these, naming what it found.
//
// Among them are encodings no processor runs (each raises invalid opcode)
// that the CPU model cannot even translate: it ends the whole process on
// them. The model therefore never translates any instruction named here: it
// stops at each address where one starts, wherever the code comes from.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kbd {

enum class Isa { X86, X64, Arm64 };

struct Forbidden {
    enum class Kind { Halt, Privileged, SystemCall, Undefined };
    Kind             kind;
    std::string_view name;  // "hlt", "cli", "mov to a control register", "syscall", "lock cmp", ...
};

// What the instruction at the start of `code` is, when it is forbidden.
// `code` may run past the instruction; when it is too short to tell, the
// instruction is taken as allowed (the CPU model then faults on it).
std::optional<Forbidden> forbiddenInstruction(Isa isa, std::span<const uint8_t> code);

// False when no forbidden instruction starts at `code`, told from one byte;
// a quick test before forbiddenInstruction for code scanned at every offset.
bool mayBeForbidden(Isa isa, std::span<const uint8_t> code);

}  // namespace kbd
