#include "capi/libcapi20_driver.h"

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "capi/byte_order.h"
#include "capi/libcapi20_setup.h"
#include "capi/message_header.h"

namespace tellmaro::capi {

// The entry points of libcapi20 3.x, declared here so that building needs no
// libcapi20 headers.
struct LibCapi20Driver::Api {
    unsigned (*isinstalled)();
    unsigned (*registerApp)(unsigned, unsigned, unsigned, unsigned*);
    unsigned (*release)(unsigned);
    unsigned (*putMessage)(unsigned, unsigned char*);
    unsigned (*getMessage)(unsigned, unsigned char**);
    unsigned (*waitForMessage)(unsigned, struct timeval*);
    unsigned char* (*getManufacturer)(unsigned, unsigned char*);
    unsigned char* (*getVersion)(unsigned, unsigned char*);
    unsigned (*getProfile)(unsigned, unsigned char*);
    int (*fileno)(unsigned);
};

namespace {

// Only this much of the send buffer is for the message itself; the rest is
// where the library puts a DATA_B3_REQ's data block.
constexpr size_t kMaxMessageLength = 128;
constexpr unsigned kController = 1;

template <typename F>
bool resolve(void* library, const char* name, F& function, std::string& error) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        error = std::string("in libcapi20 fehlt die Funktion ") + name;
        return false;
    }
    function = reinterpret_cast<F>(symbol);
    return true;
}

// dlerror() says "<file>: <reason>" in the C library's English. The reasons a
// missing or broken libcapi20 gives are said in German; another is kept.
std::string inGerman(std::string loadError) {
    static constexpr std::pair<std::string_view, std::string_view> kReasons[] = {
        {"cannot open shared object file: No such file or directory", "Datei nicht gefunden"},
        {"cannot open shared object file: Permission denied", "keine Berechtigung zum Lesen"},
        {"file too short", "die Datei ist zu kurz"},
        {"invalid ELF header", "die Datei ist keine Programmbibliothek"},
        {"wrong ELF class", "die Bibliothek ist für eine andere Rechnerarchitektur gebaut"},
        {"undefined symbol", "ein Symbol fehlt"},
    };
    for (const auto& [english, german] : kReasons) {
        if (const size_t at = loadError.find(english); at != std::string::npos) {
            return loadError.replace(at, english.size(), german);
        }
    }
    return loadError;
}

std::filesystem::path homeDirectory() {
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

}  // namespace

LibCapi20Driver::LibCapi20Driver(const char* libraryName) {
    // The remote modules write to a socket; a vanished server must become an
    // error code for the error report, not a signal that ends the program.
    std::signal(SIGPIPE, SIG_IGN);

    library_ = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* why = dlerror();
        loadError_ = why ? inGerman(why) : "der Grund ist unbekannt";
        return;
    }
    auto api = new Api{};
    bool ok = resolve(library_, "capi20_isinstalled", api->isinstalled, loadError_) &&
              resolve(library_, "capi20_register", api->registerApp, loadError_) &&
              resolve(library_, "capi20_release", api->release, loadError_) &&
              resolve(library_, "capi20_put_message", api->putMessage, loadError_) &&
              resolve(library_, "capi20_get_message", api->getMessage, loadError_) &&
              resolve(library_, "capi20_waitformessage", api->waitForMessage, loadError_) &&
              resolve(library_, "capi20_get_manufacturer", api->getManufacturer, loadError_) &&
              resolve(library_, "capi20_get_version", api->getVersion, loadError_) &&
              resolve(library_, "capi20_get_profile", api->getProfile, loadError_) &&
              resolve(library_, "capi20_fileno", api->fileno, loadError_);
    if (!ok) {
        delete api;
        dlclose(library_);
        library_ = nullptr;
        return;
    }
    api_ = api;
    // The library prints debug lines on standard error unless its
    // configuration sets a trace level; a user who wants them sets one.
    using SetTraceLevel = void (*)(int);
    auto setTraceLevel =
        reinterpret_cast<SetTraceLevel>(dlsym(library_, "capi20ext_set_tracelevel"));
    if (setTraceLevel && !readLibcapi20Config(homeDirectory()).traceLevel) {
        setTraceLevel(0);
    }
}

std::string LibCapi20Driver::describeSetup() {
    return describeLibcapi20Setup(loadError_, readLibcapi20Config(homeDirectory()), probeTcp,
                                  "/dev/capi20", registeredOnce_);
}

LibCapi20Driver::~LibCapi20Driver() {
    delete api_;
    // The library is left loaded: its modules keep process-wide state (the
    // query connection, shared-memory application ids) until exit.
}

uint32_t LibCapi20Driver::installed() {
    return api_ ? api_->isinstalled() : kCapiNotInstalled;
}

uint32_t LibCapi20Driver::registerApplication(const RegisterParams& params, uint32_t& applId) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    // libcapi20 sizes the message buffer itself; it takes no parameter for it.
    unsigned id = 0;
    unsigned result = api_->registerApp(params.maxLogicalConnections, params.maxB3Blocks,
                                        params.maxB3BlockSize, &id);
    if (result == kCapiOk) {
        applId = id;
        registeredOnce_ = true;
        // A remote module sends each message as it is put: without this a
        // message could wait up to 40 ms for the acknowledgement of the last
        // (Nagle). A local device is no socket, and refuses it harmlessly.
        int yes = 1;
        setsockopt(api_->fileno(id), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    return result;
}

uint32_t LibCapi20Driver::release(uint32_t applId) {
    return api_ ? api_->release(applId) : kCapiNotInstalled;
}

uint32_t LibCapi20Driver::putMessage(uint32_t applId, std::span<const uint8_t> message) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    if (message.size() < kHeaderSize || message.size() > kMaxMessageLength) {
        return 0x1102;  // illegal message length
    }
    std::copy(message.begin(), message.end(), sendBuffer_.begin());
    std::fill(sendBuffer_.begin() + static_cast<ptrdiff_t>(message.size()), sendBuffer_.end(), 0);
    return api_->putMessage(applId, sendBuffer_.data());
}

uint32_t LibCapi20Driver::getMessage(uint32_t applId, std::span<const uint8_t>& message) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    // The remote modules block in get_message when nothing is queued, so look
    // first, without waiting.
    struct timeval zero {};
    if (api_->waitForMessage(applId, &zero) != kCapiOk) {
        return kCapiQueueEmpty;
    }
    unsigned char* received = nullptr;
    unsigned result = api_->getMessage(applId, &received);
    if (result == kCapiQueueEmpty && connectionClosed(applId)) {
        // After the server closed, the socket reads as ready and the queue as
        // empty forever; report it so that the error report runs.
        return kCapiOsResourceError;
    }
    if (result != kCapiOk) {
        return result;
    }
    uint16_t length = readU16(std::span<const uint8_t>(received, kHeaderSize), kLengthOffset);
    message = std::span<const uint8_t>(received, std::max<size_t>(length, kHeaderSize));
    return kCapiOk;
}

bool LibCapi20Driver::connectionClosed(uint32_t applId) const {
    int fd = api_->fileno(applId);
    if (fd < 0) {
        return false;
    }
    char probe;
    ssize_t n = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    // 0 is end of stream; a local device is not a socket and never "closes".
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTSOCK &&
                      errno != EINTR);
}

uint32_t LibCapi20Driver::getVersion(CapiVersion& version) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    std::array<uint8_t, 16> buffer{};
    if (api_->getVersion(kController, buffer.data()) == nullptr) {
        return kCapiNotInstalled;
    }
    version = CapiVersion{readU32(buffer, 0), readU32(buffer, 4), readU32(buffer, 8),
                          readU32(buffer, 12)};
    return kCapiOk;
}

uint32_t LibCapi20Driver::getManufacturer(ManufacturerName& name) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    std::array<unsigned char, 65> buffer{};
    if (api_->getManufacturer(kController, buffer.data()) == nullptr) {
        return kCapiNotInstalled;
    }
    name.fill(0);
    std::copy_n(buffer.begin(), name.size() - 1, name.begin());
    return kCapiOk;
}

uint32_t LibCapi20Driver::getProfile(uint32_t controller, CapiProfile& profile) {
    if (!api_) {
        return kCapiNotInstalled;
    }
    std::array<unsigned char, 64> buffer{};
    unsigned result = api_->getProfile(controller, buffer.data());
    if (result == kCapiOk) {
        std::copy(buffer.begin(), buffer.end(), profile.begin());
    }
    return result;
}

}  // namespace tellmaro::capi
