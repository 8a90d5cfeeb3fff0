// The registration's flow behind a NAT: keep-alives that hold the router's
// binding open, the address the registrar sees us at, and registering again
// at once when that address, the route or the connection changes.

#include "exchange/sip/net_addresses.h"
#include "exchange/sip/sip_engine.h"

namespace tellmaro::sip {

const struct sa* Engine::publicAddress() const {
    struct sa local;
    return sa_isset(&public_, SA_ALL) && sa_set_str(&local, localAddress_.c_str(), 0) == 0 &&
                   sa_af(&local) == sa_af(&public_)
               ? &public_
               : nullptr;
}

std::string Engine::mediaAddress() const {
    char host[64] = {};
    const struct sa* seen = publicAddress();
    return seen && sa_ntop(seen, host, sizeof host) == 0 ? host : localAddress_;
}

std::string Engine::contactUser() const {
    char uri[128] = {};
    const struct sa* seen = publicAddress();
    return seen && re_snprintf(uri, sizeof uri, "sip:%s@%J%s", account_.user.c_str(), seen,
                               uriTransport().c_str()) > 0
               ? uri
               : account_.user;
}

void Engine::registerAgain(const std::string& why, uint64_t afterMs) {
    if (stopping_ || !registration_) {
        return;
    }
    log(why + ", registering again");
    // From a timer: the reasons come from inside libre's handlers.
    tmr_start(
        &retryTimer_, afterMs,
        [](void* arg) {
            auto* engine = static_cast<Engine*>(arg);
            if (int err = engine->registration_->send()) {
                engine->registered(err, nullptr);
            }
        },
        this);
}

void Engine::noteSeenAddress(const struct sip_msg* msg) {
    struct sa seen;
    struct sa local;
    if (!seenAddress(msg, seen) || sip_transp_laddr(sip_, &local, msg->tp, nullptr) != 0) {
        return;
    }
    seenAt_ = describeAddress(seen);
    // Over a connection the source port is the connection's own, not the
    // listening one: only the address tells a NAT.
    const bool behindNat = !sa_cmp(&seen, &local, msg->tp == SIP_TRANSP_UDP ? SA_ALL : SA_ADDR);
    if (behindNat ? sa_cmp(&seen, &public_, SA_ALL) : !sa_isset(&public_, SA_ALL)) {
        return;
    }
    if (behindNat) {
        public_ = seen;
    } else {
        sa_init(&public_, AF_UNSPEC);
    }
    registration_->setPublicAddress(behindNat ? &public_ : nullptr);
    registerAgain(behindNat ? "public address now " + seenAt_
                            : "the registrar sees our own address " + seenAt_ + " again");
}

void Engine::checkRoute() {
    if (!autoLocalAddress_ || !registration_ ||
        !sa_isset(&registration_->registrarAddress(), SA_ADDR)) {
        return;
    }
    char registrar[64] = {};
    sa_ntop(&registration_->registrarAddress(), registrar, sizeof registrar);
    auto toward = localAddressToward(registrar);
    if (!toward || *toward == localAddress_) {
        return;
    }
    log("the route toward the registrar now leaves from " + *toward + ", not " + localAddress_ +
        ": listening there, registering again");
    localAddress_ = *toward;
    flowKeepAlive_ = static_cast<struct sip_keepalive*>(mem_deref(flowKeepAlive_));
    sip_transp_flush(sip_);
    keepAliveRequest_ = static_cast<struct sip_request*>(mem_deref(keepAliveRequest_));
    sa_init(&public_, AF_UNSPEC);
    std::string error;
    if (listen(error) != 0) {
        log(error);
        return;
    }
    if (int err = startRegistration()) {
        registered(err, nullptr);
    }
}

void Engine::keepAliveHandler(void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    tmr_start(&engine->keepAliveTimer_,
              static_cast<uint64_t>(engine->account_.keepAlive.count()) * 1000, keepAliveHandler,
              engine);
    engine->checkRoute();
    // Over UDP an OPTIONS to the registrar: its answer's Via says where the
    // registrar sees us. A connection has libre's CRLF pings instead.
    if (engine->account_.transport != SipTransport::Udp || !engine->keepAliveDialog_ ||
        engine->keepAliveRequest_ || !engine->registration_ || engine->registration_->pending()) {
        return;
    }
    sip_drequestf(&engine->keepAliveRequest_, engine->sip_, true, "OPTIONS",
                  engine->keepAliveDialog_, 0, nullptr, nullptr, keepAliveAnswer, engine,
                  "Content-Length: 0\r\n\r\n");
}

void Engine::keepAliveAnswer(int err, const struct sip_msg* msg, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    if (err) {
        engine->registerAgain("keep-alive to the registrar failed (" + errorText(err) + ")");
    } else if (msg && msg->scode >= 200) {
        engine->noteSeenAddress(msg);
    }
}

void Engine::flowLost(int err, void* arg) {
    // A second for a registrar that is going to finish closing: a REGISTER
    // its dying socket still took would wait the whole transaction time out.
    static_cast<Engine*>(arg)->registerAgain(
        "the connection to the registrar failed (" + errorText(err) + ")", 1000);
}

}  // namespace tellmaro::sip
