#include "exchange/sip/media_source.h"

namespace tellmaro::sip {

void MediaSourceLock::expect(RtpSource signalled) {
    if (signalled_ != signalled) {
        signalled_ = std::move(signalled);
        locked_.reset();
        ssrc_.reset();
    }
}

bool MediaSourceLock::admit(const RtpSource& source, uint32_t ssrc) {
    bool ours = false;
    if (locked_) {
        ours = source == *locked_ && ssrc == ssrc_;
    } else if (signalled_ && source.address == signalled_->address) {
        locked_ = source;
        ssrc_ = ssrc;
        ours = true;
    }
    dropped_ += ours ? 0 : 1;
    return ours;
}

bool ReportedSources::first(const std::string& source) {
    return seen_.size() < kMost && seen_.insert(source).second;
}

}  // namespace tellmaro::sip
