#pragma once
// The parameter lists of CAPI 2.0 messages, in the order of the standard.
// Used to decode any message for traces, and to check messages strictly.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tellmaro::capi {

enum class ParamKind : uint8_t {
    Word,
    Code,  // a word holding an info, reason or reject value, shown in hex
    Dword,
    Address,        // Controller, PLCI or NCCI: a dword shown in hex
    DataPointer,    // 32-bit data pointer of DATA_B3
    DataPointer64,  // 64-bit extension; present only in the longer layout
    Struct,
    CalledNumber,   // struct: type/plan octet, then digits
    CallingNumber,  // struct: type/plan and presentation octets, then digits
};

struct ParamSpec {
    std::string_view name;
    ParamKind kind;
};

// Bytes a parameter of this kind takes; 0 for structures, whose length
// byte says how long they are.
size_t paramFixedSize(ParamKind kind);

// The parameters of a message, or an empty list for a command and
// subcommand that CAPI 2.0 does not define here.
std::span<const ParamSpec> parameterSchema(uint8_t command, uint8_t subcommand);

}  // namespace tellmaro::capi
