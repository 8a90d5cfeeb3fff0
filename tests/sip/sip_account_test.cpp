// sip.conf: what it sets, what it refuses, and that it keeps the password to itself.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "exchange/sip/sip_account.h"

namespace tellmaro::sip {
namespace {

TEST(SipAccount, ReadsEveryKey) {
    auto result = parseSipAccount(
        "# provider\n"
        "registrar = sip.example.net:5070\n"
        "user = 4930123456   # the number\n"
        "auth_user = abc\n"
        "password = pa#ss word\n"
        "outbound_proxy = proxy.example.net\n"
        "transport = tcp\n"
        "listen = 192.0.2.7\n"
        "port = 5080\r\n"
        "rtp_ports = 30000-30100\n"
        "country_code = 43\n"
        "max_calls = 4\n"
        "invite_from = 192.0.2.1, 192.0.2.2:5060\n"
        "inband_dtmf = yes\n"
        "direct_bridge = no\n"
        "expires = 300\n"
        "rtp_timeout = 0\n"
        "max_call_minutes = 0\n");
    ASSERT_TRUE(result.account) << result.error;
    const SipAccount& a = *result.account;
    // '#' belongs to a password; the domain is the registrar's host.
    EXPECT_EQ(std::tie(a.registrar, a.domain, a.user, a.authUser, a.password, a.outboundProxy,
                       a.listenAddress, a.countryCode, a.nationalPrefix),
              std::tuple("sip.example.net:5070", "sip.example.net", "4930123456", "abc",
                         "pa#ss word", "proxy.example.net", "192.0.2.7", "43", "0"));
    EXPECT_EQ(
        std::tie(a.transport, a.localPort, a.rtpPortMin, a.rtpPortMax, a.maxCalls, a.inbandDtmf,
                 a.directBridge, a.registerExpires, a.rtpTimeout, a.maxCallMinutes),
        std::tuple(SipTransport::Tcp, 5080, 30000, 30100, 4u, true, false,
                   std::chrono::seconds(300), std::chrono::seconds(0), std::chrono::minutes(0)));
    EXPECT_EQ(a.inviteSources, (std::vector<std::string>{"192.0.2.1", "192.0.2.2:5060"}));
}

TEST(SipAccount, ReadsTls) {
    const std::pair<std::string, std::tuple<std::string, bool, uint16_t, std::string, bool>>
        rows[] = {
            {"registrar = r\ntransport = tls\n", {"r", false, 5061, "", true}},
            {"registrar = sips:r:5062\n", {"r:5062", true, 5061, "", true}},
            {"registrar = r\ntransport = tls\ntls_ca_file = /etc/box.pem\ntls_verify = no\n",
             {"r", false, 5061, "/etc/box.pem", false}},
        };
    for (const auto& [lines, wanted] : rows) {
        auto a = parseSipAccount(lines + "user = u\npassword = p\n").account.value();
        EXPECT_EQ(
            std::tuple(a.registrar, a.sips, defaultSipPort(a.transport), a.tlsCaFile, a.tlsVerify),
            wanted)
            << lines;
    }
}

TEST(SipAccount, RefusesWithTheLineAndNeverThePassword) {
    const std::string base = "registrar = r\nuser = u\n";
    const std::pair<std::string, std::string> rows[] = {
        {"user = u\npassword = p\n", "'registrar' is missing"},
        {base, "'password' is missing"},
        {base + "password Zz9\n", "line 3: expected \"key = value\""},
        {base + "password: Zz9=Secret\n", "line 3: unknown key (not shown"},
        {base + "Password = Zz9\n", "(not shown: it may hold the password); keys are written in"},
        {base + "pasword=Zz9\n", "line 3: unknown key (not shown"},
        {base + "password = p\nport = Zz9\n", "line 4: port: expected a port number"},
        {base + "password = p\ncolour = red\n", "line 4: unknown key 'colour'"},
        {base + "password = p\ntransport = sctp\n", "line 4: transport: expected udp, tcp or tls"},
        {base + "password = p\ntls_verify = no\n", "sip.conf: tls_verify needs transport = tls"},
        {"registrar = sips:r\nuser = u\npassword = p\ntransport = tcp\n",
         "sip.conf: a sips: registrar needs transport = tls"},
        {base + "password = p\nmedia_encryption = srtp\n", "needs transport = tls: the keys"},
        {base + "password = p\nsrtp = mandatory\n", "'srtp' needs media_encryption = srtp"},
        {base + "password = p\nmedia_encryption = zrtp\n", "expected none or srtp"},
        {base + "password = p\nsrtp = yes\n", "srtp: expected mandatory, optional or off"},
        {base + "password = p\nrtp_ports = 5000\n", "rtp_ports: expected a range"},
        {base + "password = p\nmax_calls = 0\n", "max_calls: expected 1 to 30"},
        {base + "password = p\ndirect_bridge = Zz9\n", "line 4: direct_bridge: expected yes or no"},
        {base + "password = p\nuser = v\n", "line 4: 'user' given twice"},
        {base + "password = p\ncountry_code = +49\n", "country_code: expected digits"},
        {base + "password = p\nnumber_lengths = 030:11, 0301:3\n", "number_lengths: expected"},
    };
    for (const auto& [text, error] : rows) {
        auto result = parseSipAccount(text);
        EXPECT_FALSE(result.account) << text;
        EXPECT_NE(result.error.find(error), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find("Zz9"), std::string::npos) << result.error;
    }
}

TEST(SipAccount, SrtpPolicyFollowsTheTwoKeys) {
    const std::string base = "registrar = r\nuser = u\npassword = p\n";
    const std::pair<std::string, SrtpPolicy> rows[] = {
        {"", SrtpPolicy::Off},
        {"transport = tls\nmedia_encryption = srtp\n", SrtpPolicy::Mandatory},
        {"transport = tls\nmedia_encryption = srtp\nsrtp = optional\n", SrtpPolicy::Optional},
        {"media_encryption = srtp\nsrtp = off\n", SrtpPolicy::Off},
    };
    for (const auto& [text, policy] : rows) {
        auto result = parseSipAccount(base + text);
        ASSERT_TRUE(result.account) << text << result.error;
        EXPECT_EQ(result.account->srtp, policy) << text;
    }
}

TEST(SipAccount, FileThatOthersMayReadIsRefused) {
    auto path =
        std::filesystem::temp_directory_path() / ("sip-" + std::to_string(getpid()) + ".conf");
    std::ofstream(path) << "registrar = r\nuser = u\npassword = topsecret\n";
    chmod(path.c_str(), 0644);
    auto refused = loadSipAccount(path.string());
    EXPECT_FALSE(refused.account);
    EXPECT_NE(refused.error.find("chmod 600"), std::string::npos) << refused.error;
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace tellmaro::sip
