#include "exchange/sip/sip_registration.h"

#include <algorithm>
#include <utility>

namespace tellmaro::sip {

Registration::Registration(struct sip* sip, RegistrationParams params, sip_auth_h* auth,
                           void* authArg, Done done)
    : sip_(sip), params_(std::move(params)), done_(std::move(done)), expires_(params_.expires) {
    tmr_init(&refresh_);
    std::vector<const char*> routes;
    for (const auto& route : params_.routes) {
        routes.push_back(route.c_str());
    }
    if (sip_dialog_alloc(&dialog_, params_.registrarUri.c_str(), params_.aor.c_str(), nullptr,
                         params_.aor.c_str(), routes.empty() ? nullptr : routes.data(),
                         static_cast<uint32_t>(routes.size())) != 0) {
        dialog_ = nullptr;
    }
    if (sip_auth_alloc(&auth_, auth, authArg, false) != 0) {
        auth_ = nullptr;
    }
}

Registration::~Registration() {
    tmr_cancel(&refresh_);
    // A request still under way: libre stops calling us back.
    request_ = static_cast<struct sip_request*>(mem_deref(request_));
    auth_ = static_cast<struct sip_auth*>(mem_deref(auth_));
    dialog_ = static_cast<struct sip_dialog*>(mem_deref(dialog_));
}

int Registration::send() {
    if (!dialog_ || !auth_) {
        return ENOMEM;
    }
    if (request_) {
        return 0;
    }
    sip_loopstate_reset(&loops_);
    sip_auth_reset(auth_);
    return request();
}

int Registration::request() {
    return sip_drequestf(&request_, sip_, true, "REGISTER", dialog_, 0, auth_, sendHandler,
                         responseHandler, this, "Content-Length: 0\r\n\r\n");
}

void Registration::setPublicAddress(const struct sa* address) {
    if (address) {
        public_ = *address;
    } else {
        sa_init(&public_, AF_UNSPEC);
    }
}

void Registration::unregister() {
    tmr_cancel(&refresh_);
    if (!registered_ || unregistering_ || !dialog_) {
        return;
    }
    unregistering_ = true;
    expires_ = 0;
    request_ = static_cast<struct sip_request*>(mem_deref(request_));
    sip_auth_reset(auth_);
    request();
}

int Registration::sendHandler(enum sip_transp tp, const struct sa* src, const struct sa* dst,
                              struct mbuf* mb, void* arg) {
    auto* self = static_cast<Registration*>(arg);
    self->registrarAddress_ = *dst;
    // The public address only where it is of the family we send over.
    const struct sa* host = sa_isset(&self->public_, SA_ALL) && sa_af(&self->public_) == sa_af(src)
                                ? &self->public_
                                : src;
    char uri[128] = {};
    if (re_snprintf(uri, sizeof uri, "sip:%s@%J%s", self->params_.contactUser.c_str(), host,
                    sip_transp_param(tp)) < 0) {
        return ENOMEM;
    }
    if (!self->contact_.empty() && self->contact_ != uri && self->registered_) {
        self->oldContact_ = self->contact_;
    }
    self->contact_ = uri;
    int err = mbuf_printf(mb, "Contact: <%s>;expires=%u\r\n", uri, self->expires_);
    if (!self->oldContact_.empty() && self->oldContact_ != self->contact_) {
        err |= mbuf_printf(mb, "Contact: <%s>;expires=0\r\n", self->oldContact_.c_str());
    }
    return err;
}

bool Registration::contactExpires(const struct sip_hdr* header, const struct sip_msg* msg,
                                  void* arg) {
    auto* self = static_cast<Registration*>(arg);
    struct sip_addr contact;
    struct pl value;
    if (sip_addr_decode(&contact, &header->val) != 0 ||
        pl_strcmp(&contact.auri, self->contact_.c_str()) != 0) {
        return false;
    }
    if (msg_param_decode(&contact.params, "expires", &value) == 0) {
        self->granted_ = pl_u32(&value);
    } else if (pl_isset(&msg->expires)) {
        self->granted_ = pl_u32(&msg->expires);
    }
    return true;
}

void Registration::responseHandler(int err, const struct sip_msg* msg, void* arg) {
    auto* self = static_cast<Registration*>(arg);
    if ((!err && msg && msg->scode < 200) || self->unregistering_) {
        return;
    }
    if (!err && msg && !sip_request_loops(&self->loops_, msg->scode)) {
        if (msg->scode < 300) {
            self->granted_ = self->expires_;
            sip_msg_hdr_apply(msg, true, SIP_HDR_CONTACT, contactExpires, self);
            self->registered_ = self->granted_ > 0;
            self->oldContact_.clear();
            if (self->registered_) {
                // Refreshed at nine tenths of the time granted, but not more
                // often than every 5 s whatever a registrar grants.
                tmr_start(&self->refresh_, std::max<uint64_t>(uint64_t{self->granted_} * 900, 5000),
                          refreshHandler, self);
            }
            self->done_(0, msg);
            return;
        }
        if (msg->scode == 401 || msg->scode == 407) {
            err = sip_auth_authenticate(self->auth_, msg);
            if (!err && self->request() == 0) {
                return;
            }
            err = err == EAUTH ? 0 : err;
        } else if (msg->scode == 423) {
            const struct sip_hdr* least = sip_msg_hdr(msg, SIP_HDR_MIN_EXPIRES);
            if (least && pl_u32(&least->val) > self->expires_ && pl_u32(&least->val) <= 86400) {
                self->expires_ = pl_u32(&least->val);
                if (self->request() == 0) {
                    return;
                }
            }
        }
    }
    self->registered_ = false;
    tmr_cancel(&self->refresh_);
    self->done_(err, msg);
}

void Registration::refreshHandler(void* arg) {
    auto* self = static_cast<Registration*>(arg);
    if (int err = self->send()) {
        self->registered_ = false;
        self->done_(err, nullptr);
    }
}

bool seenAddress(const struct sip_msg* msg, struct sa& seen) {
    struct pl received;
    struct pl rport;
    bool haveReceived = msg_param_decode(&msg->via.params, "received", &received) == 0;
    bool haveRport = msg_param_decode(&msg->via.params, "rport", &rport) == 0 &&
                     pl_u32(&rport) > 0 && pl_u32(&rport) <= 65535;
    if (!haveReceived && !haveRport) {
        return false;
    }
    uint16_t port = haveRport ? static_cast<uint16_t>(pl_u32(&rport)) : sa_port(&msg->via.addr);
    if (haveReceived) {
        if (received.l > 2 && received.p[0] == '[' && received.p[received.l - 1] == ']') {
            pl_advance(&received, 1);  // an IPv6 address some registrars bracket
            --received.l;
        }
        return sa_set(&seen, &received, port) == 0;
    }
    seen = msg->via.addr;
    sa_set_port(&seen, port);
    return true;
}

}  // namespace tellmaro::sip
