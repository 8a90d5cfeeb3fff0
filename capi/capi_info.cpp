#include "capi/capi_info.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tellmaro::capi {

namespace {

// Texts as they have always appeared in users' error logs, misspellings
// included: people search their logs for them.
constexpr std::array<std::pair<uint32_t, std::string_view>, 46> kInfoTexts = {{
    {0x0001, "No:0x0001 NCPI not supported by current protocol, NCPI ignored"},
    {0x0002, "No:0x0002 Flags not supported by current protocol, flags ingored"},
    {0x0003, "No:0x0003 Alert already sent by another application"},
    {0x1001, "No:0x1001 Too many applications"},
    {0x1002, "No:0x1002 Logical block size too small; must be at least 128 bytes"},
    {0x1003, "No:0x1003 Buffer exceeds 64 kbytes"},
    {0x1004, "No:0x1004 Message buffer size too small, must be at least 1024 bytes"},
    {0x1005, "No:0x1005 Max. mumber of logical connections not supposrted"},
    {0x1007, "No:0x1007 The message could not be accepted because of an internal busy condition"},
    {0x1008, "No:0x1008 OS resource error (e.g. no memory)"},
    {0x1009, "No:0x1009 CAPI not installed"},
    {0x100A, "No:0x100A Controller does not support external equipment"},
    {0x100B, "No:0x100B Controller does only support external equipment"},
    {0x1101, "No:0x1101 Illegal application number"},
    {0x1102, "No:0x1102 Illegal command or subcommand, or message length less than 12 octets"},
    {0x1103, "No:0x1103 The message could not be accepted because of a queue full condition"},
    {0x1104, "No:0x1104 Queue is empty"},
    {0x1105, "No:0x1105 Queue overflow: a message was lost"},
    {0x1106, "No:0x1106 Unknown notificationparameter"},
    {0x1107, "No:0x1107 Unknown notification parameter"},
    {0x1108, "No:0x1108 OS rescoue error (e.g. no memory)"},
    {0x1109, "No:0x1109 CAPI not installed"},
    {0x110A, "No:0x110A Controller does not support external equipment"},
    {0x110B, "No:0x110B Controller supports only external equipment"},
    {0x2001, "No:0x2001 Message not supprted in current state"},
    {0x2002, "No:0x2002 Illegal Controoller/PLCI/NCCI"},
    {0x2003, "No:0x2003 No PLCI available"},
    {0x2004, "No:0x2004 No NCCI available"},
    {0x2005, "No:0x2005 No Listen resources available"},
    {0x2006, "No:0x2006 No fax resources available (protocol T.30)"},
    {0x2007, "No:0x2007 Illegal message parameter coding"},
    {0x3001, "No:0x3001 B1 protocol not supported"},
    {0x3002, "No:0x3002 B2 protocol not supported"},
    {0x3003, "No:0x3003 B3 protocol not supported"},
    {0x3004, "No:0x3004 B1 protocol parameter not supported"},
    {0x3005, "No:0x3005 B2 protocol parameter not supported"},
    {0x3006, "No:0x3006 B3 protocol parameter not supported"},
    {0x3007, "No:0x3007 B protocol combination not supported"},
    {0x3008, "No:0x3008 NCPI not supported"},
    {0x3009, "No:0x3009 CIP Value unknown"},
    {0x300A, "No:0x300A Flags not supported (reserved bits)"},
    {0x300B, "No:0x300B Facility not supported"},
    {0x300C, "No:0x300C Data length not supported by current protocol"},
    {0x300D, "No:0x300D Reset procedure not supported by current protocol"},
    {0x300E, "No:0x300E TEI assignment faild / overlapping channel masks"},
    {0x300F, "No:0x300F Unsupproted interoperability"},
}};

}  // namespace

std::string_view describeCapiInfo(uint32_t code) {
    auto it = std::find_if(kInfoTexts.begin(), kInfoTexts.end(),
                           [code](const auto& entry) { return entry.first == code; });
    return it == kInfoTexts.end() ? std::string_view{} : it->second;
}

std::string errorLogLine(std::string_view dateTimeText, uint32_t code) {
    std::string line;
    line.reserve(dateTimeText.size() + 100);
    line.append(dateTimeText);
    line.append("CAPI-Fehler");
    line.append(describeCapiInfo(code));
    return line;
}

}  // namespace tellmaro::capi
