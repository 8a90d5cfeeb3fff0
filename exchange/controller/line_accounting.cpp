#include "exchange/controller/line_accounting.h"

namespace tellmaro::exchange {

const char* violationKindName(ViolationKind kind) {
    switch (kind) {
        case ViolationKind::UnknownApplication:
            return "unknown application";
        case ViolationKind::MalformedMessage:
            return "malformed message";
        case ViolationKind::BadCoding:
            return "bad parameter coding";
        case ViolationKind::WrongState:
            return "wrong state";
        case ViolationKind::UnknownAddress:
            return "unknown address";
        case ViolationKind::ForeignAddress:
            return "address of another application";
        case ViolationKind::Unsupported:
            return "not supported";
        case ViolationKind::NoChannel:
            return "no B channel free";
        case ViolationKind::UnexpectedResponse:
            return "unexpected response";
        case ViolationKind::UnknownDataHandle:
            return "unknown data handle";
    }
    return "?";
}

}  // namespace tellmaro::exchange
