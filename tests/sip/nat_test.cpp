// A PC behind a home router: the test runs in a "home" network namespace,
// masqueraded by a "router" namespace whose UDP bindings close after 6 s of
// silence, toward a "provider" namespace with Kamailio as the registrar, which
// has no route to the home network. Own namespaces, so it needs root.

#include <fcntl.h>
#include <sched.h>

#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "sip/sip_peer.h"

namespace tellmaro::test {
namespace {

using sip::IncomingCall;
using sip::RegistrationChanged;
using sip::RegistrationState;

const std::string kRegistrar = "203.0.113.2";
const std::string kPublic = "203.0.113.1";

// The three namespaces, gone again with their links when this goes.
struct Namespaces {
    std::string prefix = "tmnat" + std::to_string(getpid());
    bool made = false;
    Namespaces() {
        // $1 home, $2 router, $3 provider.
        const std::string script = R"(set -e
for n in $1 $2 $3; do ip netns add $n; ip -n $n link set lo up; done
ip -n $1 link add eth0 type veth peer name in0 netns $2
ip -n $2 link add out0 type veth peer name eth0 netns $3
ip -n $1 addr add 10.77.1.2/24 dev eth0
ip -n $2 addr add 10.77.1.1/24 dev in0
ip -n $2 addr add 203.0.113.1/24 dev out0
ip -n $3 addr add 203.0.113.2/24 dev eth0
for l in $1:eth0 $2:in0 $2:out0 $3:eth0; do ip -n ${l%:*} link set ${l#*:} up; done
ip -n $1 route add default via 10.77.1.1
ip netns exec $2 nft 'add table ip nat; add chain ip nat post { type nat hook postrouting priority 100; }; add rule ip nat post oifname out0 masquerade'
ip netns exec $2 sysctl -qw net.ipv4.ip_forward=1 net.netfilter.nf_conntrack_udp_timeout=6 net.netfilter.nf_conntrack_udp_timeout_stream=6)";
        ChildProcess shell(
            {"/bin/sh", "-c", script, "sh", prefix + "h", prefix + "r", prefix + "p"}, "/dev/null");
        made = shell.spawned() && shell.wait() == 0;
    }
    ~Namespaces() {
        std::system(("for n in h r p; do ip netns del " + prefix + "$n; done 2>/dev/null").c_str());
    }
    // This thread, and the threads and processes it starts from now on, are at home.
    bool enterHome() const {
        int fd = open(("/run/netns/" + prefix + "h").c_str(), O_RDONLY | O_CLOEXEC);
        bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        return (fd < 0 || close(fd) == 0) && entered;
    }
};

const char* kRegistrarConfig = R"(children=1
disable_tcp=yes
listen=udp:203.0.113.2:5060
mpath="/usr/lib/x86_64-linux-gnu/kamailio/modules/"
loadmodule "tm.so"
loadmodule "sl.so"
loadmodule "usrloc.so"
loadmodule "registrar.so"
loadmodule "textops.so"
request_route {
    if (is_method("REGISTER")) { save("location"); exit; }
    if (is_method("OPTIONS")) { sl_send_reply("200", "OK"); exit; }
    if (!is_method("INVITE") || !lookup("location")) { sl_send_reply("404", "Not here"); exit; }
    t_relay();
}
)";

// After the router's binding time-out has passed twice, a call through the
// registrar reaches the line that kept its binding open, at the public
// address it registered, and not the one that stayed silent.
TEST(BehindNat, KeepAlivesKeepIncomingCallsArriving) {
    SKIP_WITHOUT_SIPP();
    if (geteuid() != 0 || access("/usr/sbin/kamailio", X_OK) != 0 ||
        access("/usr/sbin/nft", X_OK) != 0) {
        GTEST_SKIP() << "needs root, Kamailio and nftables (scripts/build installs them)";
    }
    Namespaces namespaces;
    if (!namespaces.made || !namespaces.enterHome()) {
        GTEST_SKIP() << "cannot make network namespaces with a NAT here";
    }
    const auto dir = scratchDir();
    std::ofstream(dir / "kamailio.cfg") << kRegistrarConfig;
    ChildProcess registrar({"/usr/sbin/ip", "netns", "exec", namespaces.prefix + "p",
                            "/usr/sbin/kamailio", "-DD", "-E", "-f", dir / "kamailio.cfg", "-Y",
                            dir, "-P", dir / "kamailio.pid", "-m", "16", "-M", "4"},
                           dir / "kamailio.out");
    struct Stop {  // with SIGTERM, by which its main process ends the others
        ChildProcess& kamailio;
        ~Stop() { kamailio.running() && kamailio.stop(SIGTERM); }
    } stop{registrar};
    // Its sockets are in the provider's namespace: its log says when they are open.
    ASSERT_TRUE(waitUntil(
        [&] { return readFile(dir / "kamailio.out").find("Aliases:") != std::string::npos; },
        std::chrono::seconds(10)))
        << readFile(dir / "kamailio.out");

    // One SIP line per process: the rows one after the other.
    const std::tuple<const char*, uint16_t, int, bool> rows[] = {{"4930111", 5060, 5, true},
                                                                 {"4930222", 5062, 0, false}};
    auto account = LineUnderTest::account(5060);
    account.registrar = account.domain = kRegistrar;
    account.listenAddress = "0.0.0.0";
    account.registerExpires = std::chrono::seconds(600);
    for (const auto& [user, port, keepAlive, callArrives] : rows) {
        account.user = account.authUser = user;
        account.localPort = port;
        account.keepAlive = std::chrono::seconds(keepAlive);
        LineUnderTest line(account, true);
        line.start();
        ASSERT_TRUE(line.waitFor<RegistrationChanged>([](const auto& changed) {
            return changed.state == RegistrationState::Registered;
        })) << line.logText()
            << readFile(dir / "kamailio.out");
        EXPECT_NE(line.logText().find("public address now " + kPublic + ":" + std::to_string(port) +
                                      ", registering again"),
                  std::string::npos)
            << line.logText();
        std::this_thread::sleep_for(std::chrono::seconds(13));
        ChildProcess caller({"/usr/sbin/ip", "netns", "exec", namespaces.prefix + "p", kSipp, "-sn",
                             "uac", kRegistrar + ":5060", "-s", user, "-i", kRegistrar, "-p",
                             "5070", "-m", "1", "-timeout", "3s", "-nostdin"},
                            dir / "caller.out");
        auto call = line.waitFor<IncomingCall>({}, std::chrono::seconds(2));
        EXPECT_EQ(call.has_value(), callArrives) << user << line.logText();
        // The registrar stored the public address as the Contact, and the
        // call's own Contact names it too.
        const std::string contact = std::string(user) + "@" + kPublic + ":" + std::to_string(port);
        EXPECT_EQ(
            std::regex_search(line.logText(), std::regex("INVITE sip:" + contact +
                                                         "[^]*SIP/2.0 18[03] ([^\r\n]+\r?\n)*" +
                                                         "Contact: <sip:" + contact + ">")),
            callArrives)
            << line.logText();
    }
    // --check says where the registrar sees this PC.
    account.localPort = 5064;
    EXPECT_EQ(sip::checkAccount(account, std::chrono::seconds(5)).seenAt,
              kPublic + ":" + std::to_string(account.localPort));
}

}  // namespace
}  // namespace tellmaro::test
