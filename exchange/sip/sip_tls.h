#pragma once
// The TLS client context of the SIP transport. libre 1.1.0 leaves a
// context's certificate checks off and never names the server, so this sets
// up OpenSSL's own checks on the context: the chain against the system's CAs
// (and sip.conf's tls_ca_file), the expiry, and the name of the host we
// meant to reach; and remembers in plain words why a certificate failed and
// what a handshake that worked agreed on. SIP thread only.

#include <optional>
#include <string>
#include <vector>

#include "exchange/sip/sip_account.h"

struct tls;
struct ssl_st;
struct x509_store_ctx_st;

namespace tellmaro::sip {

class TlsClient {
  public:
    TlsClient() = default;
    ~TlsClient();
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    // The context for `serverHost` (a name or an IP address: the registrar's
    // or the outbound proxy's). False with `error` set when a CA file cannot
    // be read.
    bool init(const SipAccount& account, const std::string& serverHost, std::string& error);
    struct tls* context() const {
        return tls_;
    }

    // Why the last certificate was refused ("certificate of HOST expired on
    // DATE"); empty when none was. A new attempt clears it.
    const std::string& refusal() const { return refusal_; }
    void clearRefusal() { refusal_.clear(); }
    // Of the last handshake that worked: version and cipher, the server's
    // certificate; for `--check`.
    const std::vector<std::string>& facts() const { return facts_; }

  private:
    static int verified(int ok, ::x509_store_ctx_st* store);
    static void handshakeInfo(const ::ssl_st* ssl, int where, int ret);

    struct tls* tls_ = nullptr;
    std::string host_;
    bool hostIsAddress_ = false;
    bool verify_ = true;
    std::string refusal_;
    std::vector<std::string> facts_;
};

}  // namespace tellmaro::sip
