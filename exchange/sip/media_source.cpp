#include "exchange/sip/media_source.h"

namespace tellmaro::sip {

void MediaSourceLock::expect(RtpSource signalled) {
    if (signalled_ != signalled) {
        signalled_ = std::move(signalled);
        locked_.reset();
        ssrc_.reset();
    }
}

bool MediaSourceLock::wouldAdmit(const RtpSource& source, uint32_t ssrc) const {
    if (locked_) {
        return source == *locked_ && ssrc == ssrc_;
    }
    return signalled_ && source.address == signalled_->address;
}

bool MediaSourceLock::admit(const RtpSource& source, uint32_t ssrc) {
    if (!wouldAdmit(source, ssrc)) {
        return false;
    }
    if (!locked_) {
        locked_ = source;
        ssrc_ = ssrc;
    }
    return true;
}

bool ReportedSources::first(const std::string& source) {
    return seen_.size() < kMost && seen_.insert(source).second;
}

}  // namespace tellmaro::sip
