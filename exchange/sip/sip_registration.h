#pragma once
// The account's registration at the registrar: REGISTER with digest, refresh
// before the granted time runs out, and a Contact that can name the address
// the registrar sees us at (behind a NAT) rather than the socket's own.
// libre's sipreg always names the socket's address, so this replaces it.
// SIP thread only; included by the SIP-thread files alone.

#include <re.h>

#include <functional>
#include <string>
#include <vector>

namespace tellmaro::sip {

struct RegistrationParams {
    std::string registrarUri;  // request URI: "sip:host[:port][;transport=tcp]"
    std::string aor;           // To and From
    std::string contactUser;
    std::vector<std::string> routes;
    uint32_t expires = 0;
};

class Registration {
  public:
    // `done` hears each final answer of a REGISTER we sent (not the
    // un-REGISTER's); a refusal stops the refreshes.
    using Done = std::function<void(int err, const struct sip_msg* msg)>;
    Registration(struct sip* sip, RegistrationParams params, sip_auth_h* auth, void* authArg,
                 Done done);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    int send();  // a REGISTER now (nothing while one is under way)
    // The Contact's host and port from now on; the one used so far is
    // removed with the next REGISTER. Unset: the socket's own address.
    void setPublicAddress(const struct sa* address);
    // Removes the binding (expires 0) if there is one; the answer is not awaited.
    void unregister();

    bool registered() const { return registered_; }
    bool pending() const { return request_ != nullptr; }
    uint32_t granted() const { return granted_; }
    // Where the last REGISTER went, and from which local address.
    const struct sa& registrarAddress() const { return registrarAddress_; }

  private:
    static int sendHandler(enum sip_transp tp, const struct sa* src, const struct sa* dst,
                           struct mbuf* mb, void* arg);
    static void responseHandler(int err, const struct sip_msg* msg, void* arg);
    static bool contactExpires(const struct sip_hdr* header, const struct sip_msg* msg, void* arg);
    static void refreshHandler(void* arg);
    int request();

    struct sip* sip_;
    RegistrationParams params_;
    Done done_;
    struct sip_dialog* dialog_ = nullptr;
    struct sip_auth* auth_ = nullptr;
    struct sip_request* request_ = nullptr;
    struct sip_loopstate loops_ {};
    struct tmr refresh_ {};
    struct sa public_ {};
    struct sa registrarAddress_ {};
    std::string contact_;     // the URI of our Contact in the last REGISTER
    std::string oldContact_;  // to remove with the next REGISTER
    uint32_t expires_ = 0;    // asked for: the account's, 0 once unregistering
    uint32_t granted_ = 0;
    bool registered_ = false;
    bool unregistering_ = false;
};

// Where the sender of `msg`'s request is seen from the answering side:
// the Via's received and rport, where given (RFC 3581).
bool seenAddress(const struct sip_msg* msg, struct sa& seen);

}  // namespace tellmaro::sip
