// The relay behind libcapi20, RcapiServer (own thread), CapiController and the input's network.
#include <dlfcn.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>

#include <semaphore>
#include <thread>

#include "capi/libcapi20_driver.h"
#include "engine_rig.h"
#include "exchange/rcapi/controller_backend.h"
#include "exchange/rcapi/rcapi_server.h"
#include "support/simulator_process.h"

using namespace tellmaro::exchange;
using namespace tellmaro::fuzz;

namespace {
// The line on a thread of its own, woken by an eventfd; its far ends do what the input says.
struct Line final : Network {
    Line() {
        std::string error;
        server.listen(0, error);
        server.watch(wake, [this] {
            (void)!read(wake, &wakes, sizeof wakes);
            play(event);
            ran = true;
        });
        thread = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                server.runOnce(20ms);
                if (std::exchange(ran, false)) {
                    done.release();
                }
            }
        });
        useRemoteCapi(folder.path, server.port());
    }
    // Plays `e` on the line's thread; returns once it and the relay's puts are answered.
    static constexpr uint8_t kNothing[5] = {0}, kForget[5] = {6};
    void run(const uint8_t* e = kNothing) {
        event = e;
        (void)!write(wake, &(wakes = 1), sizeof wakes);
        done.acquire();
    }
    // Five bytes: the kind (% 7: nothing, offer, answer, clear, keys, audio, forget the legs) and
    // the time after it (/ 7, in 50 ms steps), the leg (bit 7 of an offer: from the mobile), a
    // length (bit 7: in units of 64), two bytes: octets, reason, key or digit and fill.
    void play(const uint8_t* e) {
        const size_t length = (e[2] & 0x80) ? (e[2] & 0x7F) * 64 : e[2];
        const std::string text(length, "0123456789*#ABCD"[e[3] % 16]);
        const IncomingCall offer{{e[3], (e[3] & 0x80) ? std::nullopt : std::optional(e[4]),
                                  ((e[1] & 0x80) ? "01711234567" : "") + text}};
        const auto leg = legs.empty() ? std::pair<CallRef, B3Ref>{} : legs[e[1] % legs.size()];
        const std::function<void()> kinds[] = {
            [] {},
            [&] { legs.emplace_back(controller.offerCall(offer).value_or(CallRef()), B3Ref()); },
            [&] { controller.farEndAnswered(leg.first); },
            [&] { controller.farEndCleared(leg.first, static_cast<uint16_t>(e[3] | e[4] << 8)); },
            [&] { controller.keysFromFarEnd(leg.first, text); },
            [&] { controller.audioFromFarEnd(leg.second, std::vector<uint8_t>(length, e[4])); },
            [&] { legs.clear(); }};
        kinds[e[0] % 7]();
    }
    void alert(CallRef) override {}
    bool accept(CallRef) override { return true; }
    void refuse(CallRef, uint16_t) override {}
    void dial(CallRef call, std::string_view) override { legs.push_back({call, {}}); }
    void seize(CallRef call) override { legs.push_back({call, {}}); }
    void keypad(CallRef, std::string_view) override {}
    void release(CallRef) override {}
    void mediaStarted(CallRef call, B3Ref b3) override { legs.push_back({call, b3}); }
    void mediaStopped(B3Ref) override {}
    void listenForKeys(B3Ref, bool) override {}
    void audioToFarEnd(B3Ref, std::span<const uint8_t>) override {}
    std::optional<milliseconds> nextEventTime() const override { return {}; }
    void runDueEvents() override {}
    std::vector<std::pair<CallRef, B3Ref>> legs;  // every call, and each with its media
    ProgramFolder folder;                         // also HOME, for libcapi20's configuration
    SteadyClock clock;
    ControllerConfig config;
    CapiController controller{clock, (adaptToRemoteCapi(config), config), *this};
    ControllerBackend backend{controller};
    RcapiServer server{backend, clock};
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t wakes = 0;
    const uint8_t* event = kNothing;
    bool ran = false;
    std::binary_semaphore done{0};
    std::jthread thread;  // the last member: stopped first
};
}  // namespace

// Byte 0, bit 0: call-back; then events of five bytes (see Line::play).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Line line;
    tellmaro::data::SettingsRecord settings;
    settings.callBack = size > 0 && (data[0] & 1);
    EngineHarness h(
        {.settings = settings, .programFolder = line.folder.path, .outerDriver = [](auto&) {
             return std::make_unique<tellmaro::capi::LibCapi20Driver>();
         }});
    if ((h.startUp(), h.engine.applId()) == 0) {
        std::abort();  // libcapi20 would not register the relay: nothing would be fuzzed
    }
    // Nagle's algorithm would hold frames back for the peer's delayed acknowledgement (40 ms).
    for (int fd = 3, one = 1; fd < 256; ++fd) {
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    // libcapi20 takes frames of up to 4096 bytes, DATA_B3_IND blocks up to 2048, unchecked.
    static auto fileno = reinterpret_cast<int (*)(unsigned)>(
        dlsym(dlopen(tellmaro::capi::kLibCapi20Name, RTLD_NOW | RTLD_NOLOAD), "capi20_fileno"));
    auto step = [&, sync = false]() mutable {
        if ((sync = !sync)) {  // once a step: runUntil asks before and after the timers fire
            line.run();
        }
        uint8_t next[8];
        if (recv(fileno(h.engine.applId()), next, 8, MSG_PEEK | MSG_DONTWAIT) == 8 &&
            (next[0] << 8 | next[1]) > (next[6] == 0x86 ? 2 + 22 + 2048 : 4096)) {
            std::fprintf(stderr, "remote CAPI frame of %d bytes for libcapi20, command %02X %02X\n",
                         next[0] << 8 | next[1], next[6], next[7]);
            h.outer->release(h.engine.applId());  // no application id left behind
            std::abort();
        }
        return false;
    };
    for (size_t at = 1; at <= size && !h.shell.ended; at += 5) {
        line.run(at + 5 <= size ? data + at : Line::kNothing);
        h.runUntil(step, at + 5 <= size ? 10ms + data[at] / 7 * 50ms : 2s);
    }
    return h.engine.shutdown(), line.run(Line::kForget), 0;
}
