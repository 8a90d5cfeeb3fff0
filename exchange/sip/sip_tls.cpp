#include "exchange/sip/sip_tls.h"

#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <re.h>

#include <ctime>
#include <memory>

// Debian's libre is built with OpenSSL; its header declares this only when
// the includer defines USE_OPENSSL, which would change other headers too.
extern "C" struct ssl_ctx_st* tls_openssl_context(const struct tls* tls);

namespace tellmaro::sip {

namespace {

constexpr size_t kLongestName = 120;

// Certificate text comes from the network: printable ASCII only, bounded.
std::string printable(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, kLongestName)) {
        out += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return text.size() > kLongestName ? out + "..." : out;
}

std::string nameText(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || !name || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return "?";
    }
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return printable(std::string_view(data, static_cast<size_t>(length)));
}

std::string dateText(const ASN1_TIME* time) {
    struct tm parts {};
    char buffer[16] = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1 ||
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &parts) == 0) {
        return "an unreadable date";
    }
    return buffer;
}

// The host names and addresses a certificate is issued for: its DNS and IP
// alternative names, else its common name.
std::string issuedFor(X509* certificate) {
    std::string names;
    auto add = [&names](const std::string& name) { names += (names.empty() ? "" : ", ") + name; };
    auto* alternatives = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* dns = name->d.dNSName;
            add(printable(
                std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                 static_cast<size_t>(ASN1_STRING_length(dns)))));
        } else if (name->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = name->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = {};
            int family = ASN1_STRING_length(ip) == 4 ? AF_INET : AF_INET6;
            if (inet_ntop(family, ASN1_STRING_get0_data(ip), text, sizeof text)) {
                add(text);
            }
        }
    }
    GENERAL_NAMES_free(alternatives);
    return names.empty() ? nameText(X509_get_subject_name(certificate)) : names;
}

// A self-signed P-256 certificate for the listening side: quick to make at
// every start, unlike libre's RSA one.
bool useSelfSigned(SSL_CTX* context) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    bool made = key && certificate && X509_set_version(certificate, 2) == 1;
    if (made) {
        X509_NAME* name = X509_get_subject_name(certificate);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 10L * 365 * 86400);
        made = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                          reinterpret_cast<const unsigned char*>("tellmaro-sip"),
                                          -1, -1, 0) == 1 &&
               X509_set_issuer_name(certificate, name) == 1 &&
               X509_set_pubkey(certificate, key) == 1 &&
               X509_sign(certificate, key, EVP_sha256()) > 0 &&
               SSL_CTX_use_certificate(context, certificate) == 1 &&
               SSL_CTX_use_PrivateKey(context, key) == 1;
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
    return made;
}

TlsClient* owner(const SSL* ssl) {
    return static_cast<TlsClient*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
}

}  // namespace

TlsClient::~TlsClient() {
    mem_deref(tls_);
}

bool TlsClient::init(const SipAccount& account, const std::string& serverHost, std::string& error) {
    host_ = serverHost;
    verify_ = account.tlsVerify;
    unsigned char address[16];
    hostIsAddress_ = inet_pton(AF_INET, host_.c_str(), address) == 1 ||
                     inet_pton(AF_INET6, host_.c_str(), address) == 1;
    if (tls_alloc(&tls_, TLS_METHOD_SSLV23, nullptr, nullptr) != 0) {
        error = "TLS: cannot make a context";
        return false;
    }
    SSL_CTX* context = tls_openssl_context(tls_);
    SSL_CTX_set_app_data(context, this);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_info_callback(context, handshakeInfo);
    // A provider may open a connection of its own for an incoming call: the
    // listening side shows a self-signed certificate (nobody could check
    // ours anyway; INVITEs are taken only from the provider's addresses).
    if (!useSelfSigned(context)) {
        error = "TLS: cannot make the listening side's certificate";
        return false;
    }
    if (!verify_) {
        return true;
    }
    if (SSL_CTX_set_default_verify_paths(context) != 1 ||
        (!account.tlsCaFile.empty() && tls_add_ca(tls_, account.tlsCaFile.c_str()) != 0)) {
        error = account.tlsCaFile.empty()
                    ? "TLS: the system's CA certificates cannot be read"
                    : "tls_ca_file " + account.tlsCaFile + ": cannot be read as PEM certificates";
        return false;
    }
    // The name is checked by OpenSSL during the handshake, as part of the chain.
    X509_VERIFY_PARAM* checks = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_hostflags(checks, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if ((hostIsAddress_ ? X509_VERIFY_PARAM_set1_ip_asc(checks, host_.c_str())
                        : X509_VERIFY_PARAM_set1_host(checks, host_.c_str(), 0)) != 1) {
        error = "TLS: '" + host_ + "' cannot be checked against a certificate";
        return false;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, verified);
    return true;
}

int TlsClient::verified(int ok, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsClient* self = ssl ? owner(ssl) : nullptr;
    if (ok || !self) {
        return ok;
    }
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    const int code = X509_STORE_CTX_get_error(store);
    const std::string of = "certificate of " + self->host_;
    // Whose certificate failed: the server's own, or one of its chain.
    const std::string whose = X509_STORE_CTX_get_error_depth(store) == 0 || !certificate
                                  ? of
                                  : of + ": the issuer's certificate (" +
                                        nameText(X509_get_subject_name(certificate)) + ")";
    switch (code) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            self->refusal_ = whose + " expired on " + dateText(X509_get0_notAfter(certificate));
            break;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            self->refusal_ =
                whose + " is not valid before " + dateText(X509_get0_notBefore(certificate));
            break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            self->refusal_ = of + " issued for another host (" + issuedFor(certificate) + ")";
            break;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            self->refusal_ = of + " not signed by a trusted CA (issuer " +
                             nameText(X509_get_issuer_name(certificate)) +
                             "); a provider's or router's own CA goes in tls_ca_file";
            break;
        default:
            self->refusal_ = whose + " refused: " + X509_verify_cert_error_string(code);
    }
    return 0;
}

void TlsClient::handshakeInfo(const SSL* ssl, int where, int) {
    TlsClient* self = owner(ssl);
    if (!self) {
        return;
    }
    if (SSL_is_server(ssl)) {
        // The context's checks are for the servers we reach: ask no
        // certificate of a client.
        if (where & SSL_CB_HANDSHAKE_START) {
            SSL_set_verify(const_cast<SSL*>(ssl), SSL_VERIFY_NONE, nullptr);
        }
        return;
    }
    // Before the ClientHello is made: the name for a server with several certificates.
    if ((where & SSL_CB_HANDSHAKE_START) && !self->hostIsAddress_) {
        SSL_set_tlsext_host_name(const_cast<SSL*>(ssl), self->host_.c_str());
    }
    if (!(where & SSL_CB_HANDSHAKE_DONE)) {
        return;
    }
    self->refusal_.clear();
    self->facts_ = {std::string("TLS: ") + SSL_get_version(ssl) + ", cipher " +
                    SSL_get_cipher_name(ssl)};
    if (X509* certificate = SSL_get0_peer_certificate(ssl)) {
        self->facts_.push_back(
            "certificate: " + nameText(X509_get_subject_name(certificate)) + ", expires " +
            dateText(X509_get0_notAfter(certificate)) +
            (self->verify_ ? ", verified for " + self->host_ : ", NOT verified (tls_verify = no)"));
    }
}

}  // namespace tellmaro::sip
