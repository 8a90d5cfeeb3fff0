#include "exchange/controller/line_trace.h"

#include <cstdio>

namespace tellmaro::exchange {

std::string formatTrace(const TraceEntry& entry) {
    const char* arrow = entry.direction == TraceDirection::ToController    ? "->"
                        : entry.direction == TraceDirection::ToApplication ? "<-"
                                                                           : "--";
    long long ms = entry.at.count();
    char prefix[64];
    if (entry.direction == TraceDirection::Note) {
        std::snprintf(prefix, sizeof prefix, "%6lld.%03lld line   %s ", ms / 1000, ms % 1000,
                      arrow);
    } else {
        std::snprintf(prefix, sizeof prefix, "%6lld.%03lld appl %u %s ", ms / 1000, ms % 1000,
                      entry.applId, arrow);
    }
    return prefix + entry.text;
}

}  // namespace tellmaro::exchange
