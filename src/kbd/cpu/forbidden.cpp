#include "kbd/cpu/forbidden.h"

namespace kbd {
namespace {

using Kind = Forbidden::Kind;

// ---- x86 and x64 ---------------------------------------------------------------

// One-byte opcodes, after any prefixes.
struct OneByte {
    uint8_t          opcode;
    Kind             kind;
    std::string_view name;
};
constexpr OneByte kOneByte[] = {
    {0xF4, Kind::Halt,       "hlt"},
    {0xFA, Kind::Privileged, "cli"},
    {0xFB, Kind::Privileged, "sti"},
    {0xE4, Kind::Privileged, "in"},
    {0xE5, Kind::Privileged, "in"},
    {0xEC, Kind::Privileged, "in"},
    {0xED, Kind::Privileged, "in"},
    {0xE6, Kind::Privileged, "out"},
    {0xE7, Kind::Privileged, "out"},
    {0xEE, Kind::Privileged, "out"},
    {0xEF, Kind::Privileged, "out"},
    {0x6C, Kind::Privileged, "ins"},
    {0x6D, Kind::Privileged, "ins"},
    {0x6E, Kind::Privileged, "outs"},
    {0x6F, Kind::Privileged, "outs"},
};

// Two-byte opcodes 0F xx that are forbidden whatever follows.
constexpr OneByte kTwoByte[] = {
    {0x05, Kind::SystemCall, "syscall"},
    {0x06, Kind::Privileged, "clts"},
    {0x07, Kind::Privileged, "sysret"},
    {0x08, Kind::Privileged, "invd"},
    {0x09, Kind::Privileged, "wbinvd"},
    {0x20, Kind::Privileged, "mov from a control register"},
    {0x21, Kind::Privileged, "mov from a debug register"},
    {0x22, Kind::Privileged, "mov to a control register"},
    {0x23, Kind::Privileged, "mov to a debug register"},
    {0x30, Kind::Privileged, "wrmsr"},
    {0x32, Kind::Privileged, "rdmsr"},
    {0x34, Kind::SystemCall, "sysenter"},
    {0x35, Kind::Privileged, "sysexit"},
};

constexpr bool isLegacyPrefix(uint8_t b) {
    switch (b) {
    case 0xF0: case 0xF2: case 0xF3:                          // lock, repne, rep
    case 0x2E: case 0x36: case 0x3E: case 0x26: case 0x64: case 0x65:  // segments
    case 0x66: case 0x67:                                     // operand and address size
        return true;
    default: return false;
    }
}

// Encodings that raise invalid opcode and that the CPU model cannot
// translate. A ModRM operand of Register or Memory says which form; `reg`
// is the ModRM reg field when it picks the instruction (kAnyReg otherwise).
enum class Operand { None, Register, Memory };
constexpr int kAnyReg = -1;
struct Undefined {
    bool             lock;     // only with a lock prefix
    bool             twoByte;  // 0F xx
    uint8_t          opcode;
    Operand          operand;
    int              reg;
    std::string_view name;
};
// Columns: lock prefix needed, in the 0F map, opcode, operand, ModRM reg, name.
constexpr Undefined kUndefined[] = {
    {false, false, 0xFF, Operand::Register, 3,       "far call through a register"},
    {false, false, 0xFF, Operand::Register, 5,       "far jmp through a register"},
    {true,  false, 0x38, Operand::Memory,   kAnyReg, "lock cmp"},
    {true,  false, 0x39, Operand::Memory,   kAnyReg, "lock cmp"},
    {true,  false, 0x80, Operand::Memory,   7,       "lock cmp"},
    {true,  false, 0x81, Operand::Memory,   7,       "lock cmp"},
    {true,  false, 0x82, Operand::Memory,   7,       "lock cmp"},
    {true,  false, 0x83, Operand::Memory,   7,       "lock cmp"},
    {true,  false, 0xA6, Operand::None,     kAnyReg, "lock cmps"},
    {true,  false, 0xA7, Operand::None,     kAnyReg, "lock cmps"},
    {true,  true,  0xA3, Operand::Register, kAnyReg, "lock bt on a register"},
    {true,  true,  0xAB, Operand::Register, kAnyReg, "lock bts on a register"},
    {true,  true,  0xB3, Operand::Register, kAnyReg, "lock btr on a register"},
    {true,  true,  0xBB, Operand::Register, kAnyReg, "lock btc on a register"},
    {true,  true,  0xBA, Operand::Register, 4,       "lock bt on a register"},
    {true,  true,  0xBA, Operand::Register, 5,       "lock bts on a register"},
    {true,  true,  0xBA, Operand::Register, 6,       "lock btr on a register"},
    {true,  true,  0xBA, Operand::Register, 7,       "lock btc on a register"},
};

std::optional<Forbidden> undefined(bool lock, bool twoByte, uint8_t op, std::span<const uint8_t> rest) {
    for (const Undefined& u : kUndefined) {
        if (u.opcode != op || u.twoByte != twoByte || (u.lock && !lock)) continue;
        if (u.operand == Operand::None) return Forbidden{Kind::Undefined, u.name};
        if (rest.empty()) return std::nullopt;
        const unsigned mod = rest[0] >> 6, reg = (rest[0] >> 3) & 7;
        if ((mod == 3) != (u.operand == Operand::Register)) continue;
        if (u.reg == kAnyReg || static_cast<unsigned>(u.reg) == reg) return Forbidden{Kind::Undefined, u.name};
    }
    return std::nullopt;
}

std::optional<Forbidden> x86(bool x64, std::span<const uint8_t> code) {
    // Prefixes in any order and number, REX among them in 64-bit code (the
    // CPU model takes it anywhere); an instruction is at most 15 bytes.
    size_t i = 0;
    bool lock = false;
    while (i < code.size() && i < 14 && (isLegacyPrefix(code[i]) || (x64 && (code[i] & 0xF0) == 0x40))) {
        lock |= code[i] == 0xF0;
        ++i;
    }
    if (i >= code.size()) return std::nullopt;
    const uint8_t op = code[i];
    for (const OneByte& o : kOneByte)
        if (o.opcode == op) return Forbidden{o.kind, o.name};
    if (op != 0x0F) return undefined(lock, false, op, code.subspan(i + 1));
    if (i + 1 >= code.size()) return std::nullopt;
    const uint8_t op2 = code[i + 1];
    for (const OneByte& o : kTwoByte)
        if (o.opcode == op2) return Forbidden{o.kind, o.name};
    if (op2 != 0x00 && op2 != 0x01) return undefined(lock, true, op2, code.subspan(i + 2));
    if (i + 2 >= code.size()) return std::nullopt;
    // Groups 6 and 7: the ModRM byte's reg field picks the instruction.
    const uint8_t modrm = code[i + 2];
    const unsigned mod = modrm >> 6, reg = (modrm >> 3) & 7;
    if (op2 == 0x00) {
        if (reg == 2) return Forbidden{Kind::Privileged, "lldt"};
        if (reg == 3) return Forbidden{Kind::Privileged, "ltr"};
        return std::nullopt;
    }
    switch (modrm) {
    case 0xC8: return Forbidden{Kind::Privileged, "monitor"};
    case 0xC9: return Forbidden{Kind::Privileged, "mwait"};
    case 0xF8: if (x64) return Forbidden{Kind::Privileged, "swapgs"}; break;
    default: break;
    }
    if (mod == 3) return reg == 6 ? std::optional<Forbidden>(Forbidden{Kind::Privileged, "lmsw"}) : std::nullopt;
    switch (reg) {
    case 2: return Forbidden{Kind::Privileged, "lgdt"};
    case 3: return Forbidden{Kind::Privileged, "lidt"};
    case 6: return Forbidden{Kind::Privileged, "lmsw"};
    case 7: return Forbidden{Kind::Privileged, "invlpg"};
    default: return std::nullopt;
    }
}

// ---- ARM64 -----------------------------------------------------------------------

struct Encoding {
    uint32_t         mask, bits;
    Kind             kind;
    std::string_view name;
};
constexpr Encoding kArm64[] = {
    {0xFFFFFFFF, 0xD503207F, Kind::Halt,       "wfi"},
    {0xFFFFFFFF, 0xD503205F, Kind::Halt,       "wfe"},
    {0xFFE0001F, 0xD4400000, Kind::Halt,       "hlt"},
    {0xFFE0001F, 0xD4000001, Kind::SystemCall, "svc"},
    {0xFFE0001F, 0xD4000002, Kind::Privileged, "hvc"},
    {0xFFE0001F, 0xD4000003, Kind::Privileged, "smc"},
    {0xFFFFFFFF, 0xD69F03E0, Kind::Privileged, "eret"},
};

std::optional<Forbidden> arm64(std::span<const uint8_t> code) {
    if (code.size() < 4) return std::nullopt;
    const uint32_t insn = uint32_t{code[0]} | uint32_t{code[1]} << 8 | uint32_t{code[2]} << 16 | uint32_t{code[3]} << 24;
    for (const Encoding& e : kArm64)
        if ((insn & e.mask) == e.bits) return Forbidden{e.kind, e.name};
    // System instructions: 1101 0101 00 L op0(2) op1(3) CRn CRm op2 Rt. op1
    // is the lowest exception level that may use them; 3 is user code's.
    if ((insn & 0xFFC00000) != 0xD5000000) return std::nullopt;
    const unsigned l = insn >> 21 & 1, op0 = insn >> 19 & 3, op1 = insn >> 16 & 7, op2 = insn >> 5 & 7;
    if (op0 == 0) {
        // MSR to a processor-state field: DAIF (op1 3, op2 6 and 7) and
        // those of op1 0 are the system's.
        const bool pstate = (insn & 0xFFF8F01F) == 0xD500401F;
        if (pstate && (op1 != 3 || op2 == 6 || op2 == 7)) return Forbidden{Kind::Privileged, "msr to a processor-state field"};
        return std::nullopt;
    }
    if (op1 == 3) return std::nullopt;
    if (op0 == 1) return Forbidden{Kind::Privileged, "a system instruction (cache, TLB or address translation)"};
    return Forbidden{Kind::Privileged, l ? "mrs from a system register" : "msr to a system register"};
}

// The first bytes of forbidden x86 instructions: prefixes, REX (in 64-bit
// code), 0F and the forbidden one-byte opcodes.
struct FirstBytes {
    bool can[256] = {};
    constexpr explicit FirstBytes(bool x64) {
        for (unsigned b = 0; b < 256; ++b) can[b] = isLegacyPrefix(static_cast<uint8_t>(b)) || (x64 && (b & 0xF0) == 0x40);
        can[0x0F] = true;
        for (const OneByte& o : kOneByte) can[o.opcode] = true;
        for (const Undefined& u : kUndefined)
            if (!u.twoByte) can[u.opcode] = true;
    }
};
constexpr FirstBytes kFirstX86(false), kFirstX64(true);

}  // namespace

bool mayBeForbidden(Isa isa, std::span<const uint8_t> code) {
    switch (isa) {
    case Isa::X86: return !code.empty() && kFirstX86.can[code[0]];
    case Isa::X64: return !code.empty() && kFirstX64.can[code[0]];
    case Isa::Arm64: return code.size() >= 4 && (code[3] & 0xFC) == 0xD4;  // exceptions and system instructions
    }
    return false;
}

std::optional<Forbidden> forbiddenInstruction(Isa isa, std::span<const uint8_t> code) {
    switch (isa) {
    case Isa::X86: return x86(false, code);
    case Isa::X64: return x86(true, code);
    case Isa::Arm64: return arm64(code);
    }
    return std::nullopt;
}

}  // namespace kbd
