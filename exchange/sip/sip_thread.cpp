// The SIP thread: libre's main loop, the command queue from other threads,
// the registration with its retries and keep-alives, and incoming INVITEs.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "exchange/controller/network.h"
#include "exchange/sip/net_addresses.h"
#include "exchange/sip/sip_causes.h"
#include "exchange/sip/sip_engine.h"
#include "exchange/sip/sip_redaction.h"
#include "exchange/sip/start_line_filter.h"

// re.h leaves out the debug module; its header wants these named.
#define DEBUG_MODULE "tellmaro"
#define DEBUG_LEVEL 0
#include <re_dbg.h>

namespace tellmaro::sip {

namespace {

std::string text(const struct pl& value) {
    return std::string(value.p ? value.p : "", value.l);
}

std::string headerValue(const struct sip_msg* msg, enum sip_hdrid id) {
    const struct sip_hdr* header = sip_msg_hdr(msg, id);
    return header ? text(header->val) : std::string();
}

constexpr size_t kLongestLoggedUser = 32;

std::string stateWord(RegistrationState state) {
    switch (state) {
        case RegistrationState::Registering:
            return "registering";
        case RegistrationState::Registered:
            return "registered";
        case RegistrationState::Failed:
            return "failed";
        case RegistrationState::Unregistered:
            return "unregistered";
    }
    return "";
}

}  // namespace

std::string describeAddress(const struct sa& address) {
    char buffer[64] = {};
    re_snprintf(buffer, sizeof buffer, "%J", &address);
    return buffer;
}

std::string errorText(int err) {
    char buffer[128] = {};
    return str_error(err, buffer, sizeof buffer);
}

std::string headerList(const struct sip_msg* msg, enum sip_hdrid id) {
    std::string list;
    sip_msg_hdr_apply(
        msg, true, id,
        [](const struct sip_hdr* header, const struct sip_msg*, void* arg) {
            auto* out = static_cast<std::string*>(arg);
            *out += (out->empty() ? "" : ", ") + text(header->val);
            return false;
        },
        &list);
    return list;
}

// ---------------------------------------------------------------- shared

LineShared::LineShared(SipLineOptions options)
    : options_(std::move(options)), eventFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    setQueue(nullptr);
}

LineShared::~LineShared() {
    if (eventFd_ >= 0) {
        close(eventFd_);
    }
}

void LineShared::log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    }
}

bool LineShared::emit(SipEvent event) {
    {
        std::lock_guard lock(mutex_);
        auto bounded = [](size_t& waiting, size_t most) { return waiting < most && ++waiting; };
        if ((std::holds_alternative<AudioBlock>(event) &&
             !bounded(waitingBlocks_, kMostWaitingBlocks)) ||
            (std::holds_alternative<Dtmf>(event) && !bounded(waitingKeys_, kMostWaitingKeys))) {
            return false;
        }
        events_.push_back(std::move(event));
    }
    uint64_t one = 1;
    ssize_t written = write(eventFd_, &one, sizeof one);
    (void)written;
    return true;
}

std::vector<SipEvent> LineShared::take() {
    uint64_t count = 0;
    ssize_t got = read(eventFd_, &count, sizeof count);
    (void)got;
    std::lock_guard lock(mutex_);
    waitingBlocks_ = 0;
    waitingKeys_ = 0;
    return std::exchange(events_, {});
}

void LineShared::push(Command command) {
    std::unique_lock lock(commandMutex_);
    if (!queue_) {
        return;
    }
    int err = ENOSPC;
    if (!freeSlots_.empty()) {
        const int slot = freeSlots_.back();
        commands_[static_cast<size_t>(slot)] = std::move(command);
        // A pipe write of a few bytes: it never blocks.
        err = mqueue_push(queue_, slot, nullptr);
        if (err) {
            commands_[static_cast<size_t>(slot)].reset();
        } else {
            freeSlots_.pop_back();
        }
    }
    if (err && droppedCommands_++ == 0) {
        lock.unlock();
        log("the SIP thread takes no commands: dropping them (" + errorText(err) + ")");
    }
}

std::optional<Command> LineShared::takeCommand(int slot) {
    std::lock_guard lock(commandMutex_);
    if (slot < 0 || static_cast<size_t>(slot) >= commands_.size() ||
        !commands_[static_cast<size_t>(slot)]) {
        return std::nullopt;
    }
    freeSlots_.push_back(slot);
    return std::exchange(commands_[static_cast<size_t>(slot)], std::nullopt);
}

void LineShared::setQueue(struct mqueue* queue) {
    std::lock_guard lock(commandMutex_);
    queue_ = queue;
    freeSlots_.clear();
    for (size_t slot = commands_.size(); slot-- > 0;) {
        commands_[slot].reset();
        freeSlots_.push_back(static_cast<int>(slot));
    }
}

// ---------------------------------------------------------------- engine

Engine::Engine(LineShared& shared, const SipAccount& account)
    : shared_(shared),
      account_(account),
      plan_{account.countryCode, account.nationalPrefix, account.internationalPrefix},
      barring_(account),
      bridge_(account.directBridge, [this](const std::string& line) { trace(line); }) {
    tmr_init(&retryTimer_);
    tmr_init(&keepAliveTimer_);
    tmr_init(&reapTimer_);
}

Engine::~Engine() {
    for (auto* context : authContexts_) {
        context->engine = nullptr;
        mem_deref(context);
    }
    tmr_cancel(&retryTimer_);
    tmr_cancel(&keepAliveTimer_);
    tmr_cancel(&reapTimer_);
    calls_.clear();
    registration_.reset();
    keepAliveRequest_ = static_cast<struct sip_request*>(mem_deref(keepAliveRequest_));
    keepAliveDialog_ = static_cast<struct sip_dialog*>(mem_deref(keepAliveDialog_));
    flowKeepAlive_ = static_cast<struct sip_keepalive*>(mem_deref(flowKeepAlive_));
    sessions_ = static_cast<struct sipsess_sock*>(mem_deref(sessions_));
    dialogGuard_ = static_cast<struct sip_lsnr*>(mem_deref(dialogGuard_));
    leftoverRequests_ = static_cast<struct sip_lsnr*>(mem_deref(leftoverRequests_));
    leftoverResponses_ = static_cast<struct sip_lsnr*>(mem_deref(leftoverResponses_));
    if (sip_) {
        // A session that still waits for an ACK outlives us in libre, and
        // must not trace through this engine.
        sip_set_trace_handler(sip_, nullptr);
        sip_close(sip_, true);
    }
    sip_ = static_cast<struct sip*>(mem_deref(sip_));
    dns_ = static_cast<struct dnsc*>(mem_deref(dns_));
    shared_.setQueue(nullptr);
    queue_ = static_cast<struct mqueue*>(mem_deref(queue_));
}

std::vector<const char*> Engine::routes() const {
    if (proxyRoute_.empty()) {
        return {};
    }
    return {proxyRoute_.c_str()};
}

int Engine::credentials(char** user, char** password, const char* realm, const std::string& what) {
    if (!realmAllowed(account_, realm)) {
        log(what + " asked for credentials of realm '" + std::string(realm) +
            "', not the account's: refused");
        refusedRealm_ = realm;
        return EAUTH;
    }
    int err = str_dup(user, account_.authUser.c_str());
    if (!err) {
        err = str_dup(password, account_.password.c_str());
    }
    if (err) {
        *user = static_cast<char*>(mem_deref(*user));
    }
    return err;
}

int Engine::registrationAuthHandler(char** user, char** password, const char* realm, void* arg) {
    return static_cast<Engine*>(arg)->credentials(user, password, realm, "the registrar");
}

int Engine::start(std::string& error) {
    auto registrar = splitHostPort(account_.registrar);
    if (!registrar) {
        error = "registrar '" + account_.registrar + "' is not a host or host:port";
        return EINVAL;
    }
    registrarText_ = account_.registrar;
    std::optional<HostPort> proxy;
    if (!account_.outboundProxy.empty()) {
        proxy = splitHostPort(account_.outboundProxy);
        if (!proxy) {
            error = "outbound_proxy '" + account_.outboundProxy + "' is not a host or host:port";
            return EINVAL;
        }
    }
    const HostPort& next = proxy ? *proxy : *registrar;
    // libre adds the ";lr" itself. It sends only to sip: routes: a sips:
    // account's requests go by a route to the next hop over TLS.
    if (proxy || account_.sips) {
        proxyRoute_ = "sip:" + (proxy ? account_.outboundProxy : registrarText_) +
                      (account_.transport == SipTransport::Udp
                           ? ""
                           : std::string(";transport=") + transportName(account_.transport));
    }
    // A name with SRV records only has no address here: libre finds it
    // (RFC 3263), and the route is checked again once a REGISTER went out.
    auto nextAddresses = resolveHost(next.host);

    // INVITEs are taken from the registrar and proxy, or from the configured sources.
    auto addSource = [this](const std::string& entry) {
        auto parts = splitHostPort(entry);
        if (!parts) {
            return false;
        }
        for (const auto& address : resolveHost(parts->host)) {
            struct sa source;
            if (sa_set_str(&source, address.c_str(), parts->port) == 0) {
                inviteSources_.addresses.push_back(source);
                inviteSources_.portMatters.push_back(parts->port != 0);
            }
        }
        return true;
    };
    if (account_.inviteSources.empty()) {
        addSource(registrar->host);
        if (proxy) {
            addSource(proxy->host);
        }
    } else {
        for (const auto& entry : account_.inviteSources) {
            if (!addSource(entry)) {
                error = "invite_from '" + entry + "' is not a host or host:port";
                return EINVAL;
            }
        }
    }

    localAddress_ = account_.listenAddress;
    if (localAddress_.empty() || localAddress_ == "0.0.0.0" || localAddress_ == "::") {
        // Documentation addresses: only the default route matters for them.
        std::string toward = !nextAddresses.empty()  ? nextAddresses.front()
                             : localAddress_ == "::" ? "2001:db8::1"
                                                     : "192.0.2.1";
        auto local = localAddressToward(toward);
        if (!local) {
            error = "no local address reaches " + toward;
            return EADDRNOTAVAIL;
        }
        localAddress_ = *local;
        autoLocalAddress_ = true;
    }

    // Each step's own error: the first that fails says what failed.
    auto failed = [&error](int err, const std::string& what) {
        if (err) {
            error = what + ": " + errorText(err);
        }
        return err != 0;
    };
    struct sa servers[4];
    uint32_t serverCount = 4;
    char domain[64] = {};
    if (dns_srv_get(domain, sizeof domain, servers, &serverCount) != 0) {
        serverCount = 0;
    }
    int err = 0;
    if (failed(err = mqueue_alloc(&queue_, commandHandler, this), "command queue") ||
        failed(err = dnsc_alloc(&dns_, nullptr, servers, serverCount), "DNS client") ||
        failed(err = sip_alloc(&sip_, dns_, 32, 32, 32, "tellmaro", exitHandler, this),
               "SIP stack")) {
        return err;
    }
    if (account_.transport == SipTransport::Tls) {
        if (!tls_.init(account_, next.host, error)) {
            return EINVAL;
        }
        if (!account_.tlsVerify) {
            log("warning: tls_verify = no: the certificate of " + next.host +
                " is not checked, so anyone on the path can pose as the provider and read the "
                "calls' signalling and the password's digest");
        }
    }
    if ((err = listen(error))) {
        return err;
    }
    // Listeners see a request in the order they were added.
    if (failed(err = sip_listen(&dialogGuard_, sip_, true, dialogGuard, this), "SIP listener") ||
        failed(err = sipsess_listen(&sessions_, sip_, 32, connectHandler, this), "SIP sessions") ||
        failed(err = sip_listen(&leftoverRequests_, sip_, true, leftoverRequest, this),
               "SIP listener") ||
        failed(err = sip_listen(&leftoverResponses_, sip_, false, leftoverResponse, this),
               "SIP listener")) {
        return err;
    }
    if (shared_.options().verbose) {
        sip_set_trace_handler(sip_, traceHandler);
    }
    shared_.setQueue(queue_);
    trace("SIP line: listening on " + localAddress_ + ":" + std::to_string(sipPort_) + "/" +
          transportName(account_.transport) + ", RTP ports " + std::to_string(account_.rtpPortMin) +
          "-" + std::to_string(account_.rtpPortMax) + ", up to " +
          std::to_string(account_.maxCalls) + " calls");

    if (shared_.options().registerAccount) {
        if (failed(err = startRegistration(), "REGISTER")) {
            return err;
        }
    }
    return 0;
}

int Engine::listen(std::string& error) {
    struct sa local;
    uint16_t port = sipPort_ ? sipPort_ : account_.localPort;
    if (sa_set_str(&local, localAddress_.c_str(), port) != 0) {
        error = "listen address '" + localAddress_ + "' is not an IP address";
        return EINVAL;
    }
    static constexpr enum sip_transp kTransports[] = {SIP_TRANSP_UDP, SIP_TRANSP_TCP,
                                                      SIP_TRANSP_TLS};
    enum sip_transp transport = kTransports[static_cast<int>(account_.transport)];
    if (int err = sip_transp_add(sip_, transport, &local, tls_.context())) {
        error = "cannot listen on " + describeAddress(local) + "/" +
                transportName(account_.transport) + ": " + errorText(err);
        return err;
    }
    struct sa bound;
    sip_transp_laddr(sip_, &bound, transport, nullptr);
    sipPort_ = sa_port(&bound);
    if (transport == SIP_TRANSP_UDP && !attachStartLineFilter(udpSocketOn(sipPort_))) {
        log(std::string("warning: no kernel filter on the SIP socket (") + std::strerror(errno) +
            "): datagrams without a line end reach the SIP stack");
    }
    return 0;
}

int Engine::startRegistration() {
    refusedRealm_.clear();
    RegistrationParams params;
    tls_.clearRefusal();
    params.registrarUri = account_.scheme() + registrarText_ + uriTransport();
    params.aor = fromUri();
    params.contactUser = account_.user;
    if (!proxyRoute_.empty()) {
        params.routes.push_back(proxyRoute_);
    }
    params.expires = static_cast<uint32_t>(account_.registerExpires.count());
    if (!keepAliveDialog_ && account_.keepAlive.count() > 0) {
        auto routeList = routes();
        if (sip_dialog_alloc(&keepAliveDialog_, params.registrarUri.c_str(), params.aor.c_str(),
                             nullptr, params.aor.c_str(),
                             routeList.empty() ? nullptr : routeList.data(),
                             static_cast<uint32_t>(routeList.size())) != 0) {
            keepAliveDialog_ = nullptr;
        }
    }
    registrationChanged(
        RegistrationState::Registering,
        "as " + params.aor + " at " + registrarText_ + "/" + transportName(account_.transport));
    registration_ = std::make_unique<Registration>(
        sip_, std::move(params), registrationAuthHandler, this,
        [this](int err, const struct sip_msg* msg) { registered(err, msg); });
    if (sa_isset(&public_, SA_ALL)) {
        registration_->setPublicAddress(&public_);
    }
    return registration_->send();
}

void Engine::registrationChanged(RegistrationState state, const std::string& reason,
                                 std::vector<std::string> facts) {
    if (registrationState_ == state && lastRegistrationReason_ == reason) {
        return;
    }
    registrationState_ = state;
    lastRegistrationReason_ = reason;
    log("registration " + stateWord(state) + ": " + reason);
    shared_.emit(RegistrationChanged{state, reason, std::move(facts), seenAt_});
}

std::string Engine::uriTransport() const {
    if (account_.transport == SipTransport::Udp || account_.sips) {
        return "";
    }
    return std::string(";transport=") + transportName(account_.transport);
}

void Engine::registered(int err, const struct sip_msg* msg) {
    if (stopping_) {
        return;
    }
    if (!err && msg && msg->scode < 300) {
        failures_ = 0;
        noteSeenAddress(msg);
        std::vector<std::string> facts;
        if (account_.transport == SipTransport::Tls) {
            facts = tls_.facts();
        } else {
            facts.push_back(std::string("transport: ") + transportName(account_.transport) +
                            ", not encrypted");
        }
        registrationChanged(RegistrationState::Registered,
                            std::to_string(msg->scode) + " " + text(msg->reason) + ", expires in " +
                                std::to_string(registration_->granted()) + " s" +
                                (seenAt_.empty() ? "" : ", seen at " + seenAt_),
                            std::move(facts));
        const uint64_t every = static_cast<uint64_t>(account_.keepAlive.count());
        if (every && !tmr_isrunning(&keepAliveTimer_)) {
            tmr_start(&keepAliveTimer_, every * 1000, keepAliveHandler, this);
        }
        // On a connection, libre's CRLF ping (RFC 5626), which notices a
        // connection that died without closing.
        if (every && msg->tp != SIP_TRANSP_UDP && !flowKeepAlive_) {
            sip_keepalive_start(&flowKeepAlive_, sip_, msg, static_cast<uint32_t>(every), flowLost,
                                this);
        }
        return;
    }
    std::string reason;
    if (err && !tls_.refusal().empty()) {
        reason = tls_.refusal();
    } else if (err) {
        reason = "no answer from " + registrarText_ + " (" + errorText(err) + ")";
    } else if (msg) {
        reason = std::to_string(msg->scode) + " " + text(msg->reason);
        if (!refusedRealm_.empty()) {
            reason += ": the registrar's realm '" + refusedRealm_ +
                      "' is not the account's (name it in sip.conf with realm = ...)";
        } else if (msg->scode == 401 || msg->scode == 407 || msg->scode == 403) {
            reason += ": user name or password refused";
        }
    } else {
        reason = "no answer from " + registrarText_;
    }
    // Our own back-off, quicker than libre's first retry of 30 to 60 s.
    unsigned shift = std::min(failures_, 6u);
    ++failures_;
    auto wait = std::min<uint64_t>(static_cast<uint64_t>(account_.retryMin.count()) << shift, 300);
    registrationChanged(RegistrationState::Failed,
                        reason + "; next try in " + std::to_string(wait) + " s");
    tmr_start(&retryTimer_, wait * 1000, retryHandler, this);
}

void Engine::retryHandler(void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    if (engine->startRegistration() != 0) {
        tmr_start(&engine->retryTimer_, 30000, retryHandler, engine);
    }
}

void Engine::traceHandler(bool tx, enum sip_transp, const struct sa* src, const struct sa* dst,
                          const uint8_t* pkt, size_t len, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    std::string message(reinterpret_cast<const char*>(pkt), len);
    if (message.find_first_not_of("\r\n") == std::string::npos) {
        return;  // keep-alive
    }
    engine->log(std::string(tx ? "SIP sent to " : "SIP received from ") +
                describeAddress(tx ? *dst : *src) + ":\n" + redactCredentials(message));
}

void Engine::exitHandler(void*) {}

bool Engine::trusted(const struct sa& source) const {
    // The registrar as the REGISTER found it, which may be by SRV only.
    if (registration_ && sa_cmp(&registration_->registrarAddress(), &source, SA_ADDR)) {
        return true;
    }
    for (size_t i = 0; i < inviteSources_.addresses.size(); ++i) {
        if (sa_cmp(&inviteSources_.addresses[i], &source,
                   inviteSources_.portMatters[i] ? SA_ALL : SA_ADDR)) {
            return true;
        }
    }
    return false;
}

void Engine::refused(const struct sa& source, const std::string& what, const std::string& why) {
    char host[64] = {};
    sa_ntop(&source, host, sizeof host);
    if (refusedSources_.first(host)) {
        log(what + " from " + describeAddress(source) + " refused with 403: " + why +
            " (further refusals of this address are not logged)");
    }
}

bool Engine::dialogGuard(const struct sip_msg* msg, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    if (!pl_isset(&msg->to.tag)) {
        return false;
    }
    for (const auto& [id, call] : engine->calls_) {
        auto fromPeer = call->inDialogFromPeer(msg);
        if (fromPeer && !*fromPeer) {
            engine->refused(msg->src, text(msg->met) + " in call " + std::to_string(id),
                            "not from the call's peer");
            if (pl_strcmp(&msg->met, "ACK") != 0) {
                sip_reply(engine->sip_, msg, 403, "Forbidden");
            }
            return true;
        }
    }
    return false;
}

bool Engine::leftoverRequest(const struct sip_msg* msg, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    if (!pl_strcmp(&msg->met, "OPTIONS")) {
        sip_reply(engine->sip_, msg, 200, "OK");
    } else if (!pl_strcmp(&msg->met, "CANCEL")) {
        sip_reply(engine->sip_, msg, 481, "Transaction Does Not Exist");
    } else if (pl_strcmp(&msg->met, "ACK") != 0) {
        sip_reply(engine->sip_, msg, 501, "Not Implemented");
    }
    return true;
}

bool Engine::leftoverResponse(const struct sip_msg*, void*) {
    return true;  // a late or stray response: nothing waits for it
}

void Engine::connectHandler(const struct sip_msg* msg, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    struct sip* sip = engine->sip_;
    if (engine->stopping_) {
        sip_treply(nullptr, sip, msg, 503, "Service Unavailable");
        return;
    }
    if (!engine->trusted(msg->src)) {
        engine->refused(msg->src, "INVITE", "not the registrar, the proxy or an allowed source");
        sip_treply(nullptr, sip, msg, 403, "Forbidden");
        return;
    }
    size_t active = 0;
    for (const auto& [id, call] : engine->calls_) {
        active += call->state() != Call::State::Ended ? 1 : 0;
    }
    if (active >= engine->account_.maxCalls) {
        engine->log("INVITE from " + describeAddress(msg->src) +
                    " refused with 486: " + std::to_string(active) + " calls already");
        sip_treply(nullptr, sip, msg, 486, "Busy Here");
        return;
    }
    std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
    // Without a body the offer is ours, in the 200, and the answer comes with the ACK.
    auto offer = chooseMedia(body);
    if (!offer && !body.empty()) {
        engine->log("INVITE from " + describeAddress(msg->src) +
                    " refused with 488: no PCMA or PCMU offered");
        sip_treply(nullptr, sip, msg, 488, "Not Acceptable Here");
        return;
    }
    if (offer) {
        auto keying = decideKeying(engine->account_.srtp, *offer, msg->tp == SIP_TRANSP_TLS, {});
        if (keying.outcome == MediaKeying::Outcome::Refused) {
            engine->log("INVITE from " + describeAddress(msg->src) +
                        " refused with 488: " + keying.refusal);
            sip_treply(nullptr, sip, msg, 488, "Not Acceptable Here");
            return;
        }
    }
    std::string from = headerValue(msg, SIP_HDR_FROM);
    std::string asserted = headerList(msg, SIP_HDR_P_ASSERTED_IDENTITY);
    std::string privacy = headerList(msg, SIP_HDR_PRIVACY);
    CallingParty calling = callingPartyOf({from, asserted, privacy}, engine->plan_);
    if (calling.digits.size() > exchange::CallingNumber::kMostDigits) {
        engine->log("INVITE from " + describeAddress(msg->src) + " refused with 484: a calling " +
                    "number of " + std::to_string(calling.digits.size()) + " digits");
        sip_treply(nullptr, sip, msg, 484, "Address Incomplete");
        return;
    }

    // Only for the log: the controller presents the account's own number.
    const std::string called = text(msg->uri.user).substr(0, kLongestLoggedUser);
    CallId id = engine->shared_.newId();
    auto call = std::make_unique<Call>(*engine, id, true);
    if (call->openMedia() != 0 || call->acceptIncoming(msg, offer ? &*offer : nullptr) != 0) {
        engine->log("INVITE from " + describeAddress(msg->src) +
                    " refused with 500: no RTP port free");
        sip_treply(nullptr, sip, msg, 500, "Server Internal Error");
        return;
    }
    static const char* kTypes[] = {"unknown", "national", "international"};
    call->describe(
        "in from " +
        (calling.presentation == Presentation::Restricted
             ? std::string("a withheld number")
             : std::string(kTypes[static_cast<int>(calling.type)]) + " '" + calling.digits + "'") +
        " to '" + called + "'" + (offer ? "" : ", offer in our answer"));
    engine->trace("call " + std::to_string(id) + " offered by " + describeAddress(msg->src));
    engine->calls_[id] = std::move(call);
    engine->shared_.emit(IncomingCall{id, calling, called});
}

void Engine::commandHandler(int slot, void*, void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    if (auto command = engine->shared_.takeCommand(slot)) {
        engine->handle(*command);
    }
}

void Engine::handle(Command& command) {
    if (command.kind == Command::Kind::Stop) {
        stopping();
        return;
    }
    if (command.kind == Command::Kind::Dial) {
        if (stopping_) {
            shared_.emit(Ended{command.id, cause::kTemporaryFailure, 0, "line stopping", {}});
            return;
        }
        if (auto refusal = barring_.admit(command.number, std::chrono::steady_clock::now())) {
            log("call " + std::to_string(command.id) + " to " + command.number +
                " refused: " + refusal->reason);
            shared_.emit(Ended{command.id, refusal->cause, 0, refusal->reason, {}});
            return;
        }
        size_t active = 0;
        for (const auto& [id, call] : calls_) {
            active += call->state() != Call::State::Ended ? 1 : 0;
        }
        if (active >= account_.maxCalls) {
            log("call " + std::to_string(command.id) + " out to '" + command.number +
                "' not made: " + std::to_string(active) + " calls already");
            shared_.emit(Ended{
                command.id, cause::kNoCircuitAvailable, 0, "no free call on the SIP account", {}});
            return;
        }
        auto call = std::make_unique<Call>(*this, command.id, false);
        int err = call->openMedia();
        if (!err) {
            calls_[command.id] = std::move(call);
            calls_[command.id]->dial(command.number);
        } else {
            log("call " + std::to_string(command.id) + " out to '" + command.number +
                "' not made: no RTP port free");
            shared_.emit(Ended{command.id, cause::kTemporaryFailure, 0, "no RTP port free", {}});
        }
        return;
    }
    auto found = calls_.find(command.id);
    if (found == calls_.end() || found->second->state() == Call::State::Ended) {
        return;
    }
    Call& call = *found->second;
    switch (command.kind) {
        case Command::Kind::Alert:
            call.alert();
            break;
        case Command::Kind::Answer:
            call.answer();
            break;
        case Command::Kind::Reject:
            call.reject(command.status);
            break;
        case Command::Kind::HangUp:
            call.hangUp();
            break;
        case Command::Kind::Block: {
            auto play = bridge_.relayBlock(call.id(), command.block);
            if (play.clearSending) {
                for (CallId leg : bridge_.pair()) {
                    if (auto other = calls_.find(leg); other != calls_.end()) {
                        other->second->restartSending();
                    }
                }
            }
            if (play.from < kBlockSize) {
                call.sendBlock(std::span<const uint8_t>(command.block).subspan(play.from));
            }
            break;
        }
        case Command::Kind::Media: {
            call.setRelayMedia(command.media != RelayMedia::Stopped);
            const char* what = command.media == RelayMedia::Started   ? "started"
                               : command.media == RelayMedia::Stopped ? "stopped"
                                                                      : "reset";
            legsChanged("call " + std::to_string(call.id()) + ": the relay's media " + what);
            break;
        }
        default:
            break;
    }
}

void Engine::legsChanged(const std::string& why) {
    std::vector<DirectBridge::Leg> legs;
    for (const auto& [id, call] : calls_) {
        if (call->relayMedia()) {
            legs.push_back({id, call->talking()});
        }
    }
    bridge_.legsChanged(legs, why);
}

void Engine::passOn(CallId from, size_t offset, std::span<const uint8_t> bytes) {
    CallId to = bridge_.received(from, offset, bytes);
    if (auto call = calls_.find(to); to != 0 && call != calls_.end()) {
        call->second->passOn(bytes);
    }
}

void Engine::retire(CallId id) {
    retired_.push_back(id);
    tmr_start(&reapTimer_, 0, reapHandler, this);
}

void Engine::reapHandler(void* arg) {
    auto* engine = static_cast<Engine*>(arg);
    for (CallId id : std::exchange(engine->retired_, {})) {
        engine->calls_.erase(id);
    }
    std::erase_if(engine->authContexts_, [](AuthContext* context) {
        return mem_nrefs(context) == 1 && !mem_deref(context);
    });
}

void Engine::keep(AuthContext* context) {
    authContexts_.push_back(static_cast<AuthContext*>(mem_ref(context)));
}

void Engine::stopping() {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    for (auto& [id, call] : calls_) {
        if (call->state() != Call::State::Ended) {
            call->hangUp();
        }
    }
    tmr_cancel(&retryTimer_);
    tmr_cancel(&keepAliveTimer_);
    if (registration_) {
        registration_->unregister();
    }
    if (registrationState_ && registrationState_ != RegistrationState::Unregistered) {
        registrationChanged(RegistrationState::Unregistered, "line stopped");
    }
    // Give the un-REGISTER, BYEs and CANCELs a moment, then leave the loop.
    static struct tmr leave;
    tmr_init(&leave);
    tmr_start(
        &leave, 400, [](void*) { re_cancel(); }, nullptr);
}

// ---------------------------------------------------------------- SipLine

struct SipLine::Impl {
    explicit Impl(SipLineOptions options) : shared(std::move(options)) {}
    LineShared shared;
    std::thread thread;
    std::atomic<uint16_t> sipPort{0};
    bool running = false;
    struct tmr beat {};
    std::atomic<std::chrono::steady_clock::rep> lastBeat{0};

    static void beatHandler(void* arg) {
        auto* impl = static_cast<Impl*>(arg);
        impl->lastBeat = std::chrono::steady_clock::now().time_since_epoch().count();
        tmr_start(&impl->beat, static_cast<uint64_t>(impl->shared.options().heartbeat.count()),
                  beatHandler, impl);
    }

    void run(std::promise<std::string>& started) {
        int err = libre_init();
        if (err) {
            started.set_value("libre: " + errorText(err));
            return;
        }
        // libre's own warnings (a TLS handshake refused, say) go to the
        // trace, not to stderr: the status lines say what failed.
        dbg_handler_set(
            [](int, const char* text, size_t length, void* arg) {
                auto* line = static_cast<LineShared*>(arg);
                if (line->options().verbose) {
                    line->log("libre: " +
                              std::string(text, length)
                                  .substr(0, std::string_view(text, length).find('\n')));
                }
            },
            &shared);
        {
            std::string error;
            auto engine = std::make_unique<Engine>(shared, shared.options().account);
            if (engine->start(error) != 0) {
                engine.reset();
                libre_close();
                dbg_handler_set(nullptr, nullptr);
                started.set_value(error.empty() ? "SIP line could not start" : error);
                return;
            }
            sipPort = engine->sipPort();
            tmr_init(&beat);
            if (shared.options().heartbeat.count() > 0) {
                beatHandler(this);
            }
            started.set_value("");
            re_main(nullptr);
            tmr_cancel(&beat);
            engine.reset();
        }
        libre_close();
        dbg_handler_set(nullptr, nullptr);
    }
};

SipLine::SipLine(SipLineOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SipLine::~SipLine() {
    stop();
}

bool SipLine::start(std::string& error) {
    if (impl_->running) {
        return true;
    }
    std::promise<std::string> started;
    auto result = started.get_future();
    impl_->thread = std::thread([this, &started] { impl_->run(started); });
    error = result.get();
    if (!error.empty()) {
        impl_->thread.join();
        return false;
    }
    impl_->running = true;
    return true;
}

void SipLine::stop() {
    if (!impl_->running) {
        return;
    }
    impl_->shared.push(Command{Command::Kind::Stop});
    impl_->thread.join();
    impl_->running = false;
}

uint16_t SipLine::sipPort() const {
    return impl_->sipPort;
}
bool SipLine::turnedWithin(std::chrono::milliseconds span) const {
    const std::chrono::steady_clock::time_point beat(
        std::chrono::steady_clock::duration(impl_->lastBeat.load()));
    return std::chrono::steady_clock::now() - beat < span;
}
int SipLine::eventFd() const {
    return impl_->shared.eventFd();
}
std::vector<SipEvent> SipLine::takeEvents() {
    return impl_->shared.take();
}

CallId SipLine::dial(const std::string& number) {
    CallId id = impl_->shared.newId();
    if (!impl_->running) {
        impl_->shared.emit(Ended{id, cause::kTemporaryFailure, 0, "SIP line not running", {}});
        return id;
    }
    Command command{Command::Kind::Dial, id};
    command.number = number;
    impl_->shared.push(std::move(command));
    return id;
}

void SipLine::alert(CallId id) {
    impl_->shared.push(Command{Command::Kind::Alert, id});
}
void SipLine::answer(CallId id) {
    impl_->shared.push(Command{Command::Kind::Answer, id});
}
void SipLine::hangUp(CallId id) {
    impl_->shared.push(Command{Command::Kind::HangUp, id});
}

void SipLine::reject(CallId id, uint16_t sipStatus) {
    Command command{Command::Kind::Reject, id};
    command.status = sipStatus;
    impl_->shared.push(std::move(command));
}

void SipLine::sendBlock(CallId id, std::span<const uint8_t, kBlockSize> block) {
    Command command{Command::Kind::Block, id};
    std::copy(block.begin(), block.end(), command.block.begin());
    impl_->shared.push(std::move(command));
}

void SipLine::relayMedia(CallId id, RelayMedia change) {
    Command command{Command::Kind::Media, id};
    command.media = change;
    impl_->shared.push(std::move(command));
}

// ---------------------------------------------------------------- check

CheckReport checkAccount(const SipAccount& account, std::chrono::seconds timeout,
                         const LogSink& log, bool verbose) {
    CheckReport report;
    auto note = [&](const std::string& line) {
        report.lines.push_back(line);
        if (log) {
            log(line);
        }
    };
    note("account " + account.user + "@" + account.domain + " at " + account.registrar + "/" +
         transportName(account.transport) +
         (account.outboundProxy.empty() ? "" : " via " + account.outboundProxy));
    static const char* kSrtp[] = {
        "SRTP: off, calls are plain RTP",
        "SRTP: offered (RTP/AVP with keys), plain RTP taken from peers without it",
        "SRTP: offered and required (RTP/SAVP); calls without it are refused"};
    note(kSrtp[static_cast<int>(account.srtp)]);
    SipLineOptions options;
    options.account = account;
    options.verbose = verbose;
    options.log = [&](std::string_view line) {
        if (log) {
            log(line);
        }
    };
    SipLine line(options);
    std::string error;
    if (!line.start(error)) {
        note("not started: " + error);
        return report;
    }
    note("SIP socket open on port " + std::to_string(line.sipPort()));
    auto deadline = std::chrono::steady_clock::now() + timeout;
    bool decided = false;
    while (!decided && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (auto& event : line.takeEvents()) {
            if (auto* changed = std::get_if<RegistrationChanged>(&event)) {
                if (changed->state == RegistrationState::Registered) {
                    note("registered: " + changed->reason);
                    for (const auto& fact : changed->facts) {
                        note(fact);
                    }
                    report.registered = true;
                    report.seenAt = changed->seenAt;
                    decided = true;
                } else if (changed->state == RegistrationState::Failed) {
                    note("registration failed: " + changed->reason);
                    decided = true;
                }
            }
        }
    }
    if (!decided) {
        note("no answer to REGISTER within " + std::to_string(timeout.count()) + " s");
    }
    line.stop();
    if (report.registered) {
        note("unregistered again");
    }
    return report;
}

}  // namespace tellmaro::sip
