#include "capi/libcapi20_setup.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tellmaro::capi {

namespace {

constexpr const char* kDefaultPort = "2662";
constexpr int kProbeMilliseconds = 1000;

std::string shown(const std::filesystem::path& file, const std::filesystem::path& home) {
    std::string text = file.string();
    std::string prefix = home.string() + "/";
    return !home.empty() && text.starts_with(prefix) ? "~/" + text.substr(prefix.size()) : text;
}

}  // namespace

Libcapi20Config readLibcapi20Config(const std::filesystem::path& home,
                                    const std::filesystem::path& systemFile) {
    Libcapi20Config config;
    config.home = home;
    std::error_code error;
    for (const auto& candidate : {home / ".capi20rc", systemFile}) {
        if (!home.empty() || candidate == systemFile) {
            if (std::filesystem::is_regular_file(candidate, error)) {
                config.file = candidate;
                break;
            }
        }
    }
    if (config.file.empty()) {
        return config;
    }
    std::ifstream in(config.file, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    config.finalNewline = text.empty() || text.back() == '\n';
    if (!config.finalNewline) {
        text.pop_back();  // what libcapi20's parser does to the last line
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "REMOTE") {
            std::string module;
            words >> module >> config.host >> config.port;
            config.remoteModule = module;
            if (config.port.empty()) {
                config.port = kDefaultPort;
            }
        } else if (key == "TRACELEVEL") {
            int level = 0;
            if (words >> level) {
                config.traceLevel = level;
            }
        }
    }
    return config;
}

Reach probeTcp(const std::string& host, const std::string& port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved == EAI_SERVICE) {
        return Reach::badPort;
    }
    if (resolved != 0 || found == nullptr) {
        return Reach::unknownHost;
    }
    Reach reach = Reach::failed;
    int fd = socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        int started = connect(fd, found->ai_addr, found->ai_addrlen);
        if (started == 0) {
            reach = Reach::reached;
        } else if (errno == EINPROGRESS) {
            pollfd wait{fd, POLLOUT, 0};
            if (poll(&wait, 1, kProbeMilliseconds) == 1) {
                int problem = 0;
                socklen_t size = sizeof problem;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &size);
                reach = problem == 0              ? Reach::reached
                        : problem == ECONNREFUSED ? Reach::refused
                                                  : Reach::failed;
            } else {
                reach = Reach::timedOut;
            }
        } else {
            reach = errno == ECONNREFUSED ? Reach::refused : Reach::failed;
        }
        close(fd);
    }
    freeaddrinfo(found);
    return reach;
}

std::string describeLibcapi20Setup(const std::string& loadError, const Libcapi20Config& config,
                                   const Prober& probe, const std::filesystem::path& device,
                                   bool answeredBefore) {
    if (!loadError.empty()) {
        return "libcapi20.so.3 konnte nicht geladen werden; bitte das Paket libcapi20-3 "
               "installieren (" +
               loadError + ").";
    }
    if (config.file.empty()) {
        return "Weder ~/.capi20rc noch /etc/capi20.conf ist vorhanden, und ohne eine Zeile "
               "\"REMOTE rcapi HOST PORT\" sucht libcapi20 eine ISDN-Karte unter " +
               device.string() + ".";
    }
    std::string file = shown(config.file, config.home);
    std::string newline = config.finalNewline
                              ? std::string()
                              : " " + file +
                                    " endet ohne Zeilenumbruch, und libcapi20 verliert das "
                                    "letzte Zeichen der letzten Zeile: bitte einen "
                                    "Zeilenumbruch anhängen.";
    if (!config.remoteModule) {
        std::error_code error;
        bool present = std::filesystem::exists(device, error);
        return "Gelesen: " + file + " (ohne REMOTE-Zeile); " + device.string() +
               (present ? " ist vorhanden, meldet aber keinen CAPI-Controller."
                        : " fehlt: kein ISDN-Kartentreiber geladen.") +
               newline;
    }
    std::string server = config.host + ":" + config.port;
    // Each outcome ends its sentence, a question its own way.
    const Reach reach = probe(config.host, config.port);
    if (answeredBefore && reach != Reach::reached) {
        return "Der CAPI-Server " + server + " (REMOTE " + *config.remoteModule + " in " + file +
               ") antwortet nicht mehr: er wurde beendet oder ist nicht mehr erreichbar; "
               "libcapi20 selbst ist richtig installiert." +
               newline;
    }
    std::string outcome;
    switch (reach) {
        case Reach::reached:
            outcome = "ist erreichbar, meldet aber keinen CAPI-Controller.";
            break;
        case Reach::refused:
            outcome =
                "weist die Verbindung ab: läuft dort ein CAPI-Server (tellmaro-sim, "
                "tellmaro-sip)?";
            break;
        case Reach::timedOut:
            outcome = "antwortet nicht innerhalb einer Sekunde.";
            break;
        case Reach::unknownHost:
            outcome = "ist nicht auflösbar: der Rechnername ist unbekannt.";
            break;
        case Reach::badPort:
            outcome = "hat keine gültige Portnummer.";
            break;
        case Reach::failed:
            outcome = "ist nicht erreichbar.";
            break;
    }
    return "Gelesen: " + file + " (REMOTE " + *config.remoteModule + " " + server +
           "); der Server " + server + " " + outcome + newline;
}

}  // namespace tellmaro::capi
