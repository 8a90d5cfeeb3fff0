// CPU of an idle tellmaro-console over a minute: registered and listening
// through libcapi20 on a line served by tellmaro-sim where nothing happens,
// so all it does is fire its timers and poll the driver. Target: below 1% of
// a core.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "data/mobile_number_file.h"
#include "data/settings_file.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kWarmUp = 2s;
constexpr auto kMeasured = 60s;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

uint16_t freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool accepting(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// A child process with its output in a file; stopped and reaped at the end.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const fs::path& output) {
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> env;
        for (const auto& entry : environment) {
            env.push_back(const_cast<char*>(entry.c_str()));
        }
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Child() { (void)stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool spawned() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0 || reaped_) {
            return false;
        }
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            reaped_ = true;
        }
        return !reaped_;
    }

    // SIGTERM and reap; the exit status, or -1 when it did not exit by itself.
    int stop(rusage* usage = nullptr) {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGTERM);
            rusage ignored{};
            wait4(pid_, &status_, 0, usage ? usage : &ignored);
            reaped_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// User plus system CPU of a live process, from /proc.
std::optional<double> processCpuSeconds(pid_t pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    auto end = stat.rfind(')');
    if (end == std::string::npos) {
        return std::nullopt;
    }
    // After the command name: state, ppid, ... utime and stime are the 12th
    // and 13th fields from there.
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12) {
            utime = std::stoull(field);
        } else if (i == 13) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double seconds(rusage usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The environment of this process with HOME and XDG_RUNTIME_DIR replaced.
std::vector<std::string> environmentWith(const fs::path& home, const fs::path& runtime) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (!text.starts_with("HOME=") && !text.starts_with("XDG_RUNTIME_DIR=")) {
            env.push_back(text);
        }
    }
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_RUNTIME_DIR=" + runtime.string());
    return env;
}

// A copy of the program directory with settings and a registered mobile.
bool prepareProgramDirectory(const fs::path& program, std::string& error) {
    std::error_code failed;
    fs::copy(TELLMARO_PROGRAM_DIR, program, fs::copy_options::recursive, failed);
    if (failed) {
        error = "cannot copy " + std::string(TELLMARO_PROGRAM_DIR) + ": " + failed.message();
        return false;
    }
    // Whatever earlier runs left in the build tree is not this run's.
    for (const char* name : {"tellmaro.dir", "error.log", "tellmaro.ini.bad"}) {
        fs::remove(program / name, failed);
    }
    tellmaro::data::SettingsRecord settings;
    settings.starConfirms = false;
    settings.ownNumber = "07115550000000000000";
    settings.ownNumberLength = 10;
    auto saved = tellmaro::data::SaveSettings(program, settings);
    auto mobile = tellmaro::data::SaveMobileNumber(program, "01711234567");
    if (!saved.ok || !mobile.ok) {
        error = saved.ok ? mobile.error : saved.error;
        return false;
    }
    return true;
}

int run(const fs::path& work) {
    fs::path program = work / "program";
    fs::path runtime = work / "run";
    std::string error;
    if (!prepareProgramDirectory(program, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    uint16_t port = freePort();
    // libcapi20 drops the last character of every line, the last one too.
    std::ofstream(work / ".capi20rc") << "REMOTE rcapi 127.0.0.1 " << port << "\nTRACELEVEL 0\n";
    auto env = environmentWith(work, runtime);

    Child sim({TELLMARO_SIM_PATH, "--port", std::to_string(port)}, env, work / "sim.out");
    auto deadline = Clock::now() + 5s;
    while (sim.spawned() && !accepting(port) && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    if (!sim.running() || !accepting(port)) {
        std::fprintf(stderr, "tellmaro-sim did not start:\n%s\n",
                     readText(work / "sim.out").c_str());
        return 1;
    }

    Child console({(program / "tellmaro-console").string()}, env, work / "console.out");
    deadline = Clock::now() + 10s;
    while (console.running() &&
           readText(work / "console.out").find("betriebsbereit") == std::string::npos &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    if (!console.running() ||
        readText(work / "console.out").find("betriebsbereit") == std::string::npos) {
        std::fprintf(stderr, "tellmaro-console did not become ready:\n%s\n",
                     readText(work / "console.out").c_str());
        return 1;
    }

    std::printf("tellmaro-console, idle and listening through libcapi20, measured for %lld s ...\n",
                static_cast<long long>(kMeasured.count()));
    std::fflush(stdout);
    std::this_thread::sleep_for(kWarmUp);
    auto consoleBefore = processCpuSeconds(console.pid());
    auto simBefore = processCpuSeconds(sim.pid());
    auto start = Clock::now();
    std::this_thread::sleep_for(kMeasured);
    auto consoleAfter = processCpuSeconds(console.pid());
    auto simAfter = processCpuSeconds(sim.pid());
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    bool stillRunning = console.running();

    rusage lifetime{};
    int exitStatus = console.stop(&lifetime);
    (void)sim.stop();
    if (!consoleBefore || !consoleAfter || !simBefore || !simAfter || !stillRunning) {
        std::fprintf(stderr, "tellmaro-console ended while it was measured:\n%s\n",
                     readText(work / "console.out").c_str());
        return 1;
    }

    double consoleCpu = *consoleAfter - *consoleBefore;
    double simCpu = *simAfter - *simBefore;
    std::printf("  tellmaro-console  %.2f CPU s in %.1f s = %.2f%% of a core (target below 1%%)\n",
                consoleCpu, elapsed, 100.0 * consoleCpu / elapsed);
    std::printf("  tellmaro-sim      %.2f CPU s = %.2f%% of a core (serving it, for reference)\n",
                simCpu, 100.0 * simCpu / elapsed);
    std::printf(
        "  tellmaro-console's whole run, start-up included: %.2f CPU s; exit status %d "
        "after SIGTERM\n",
        seconds(lifetime), exitStatus);
    return 0;
}

}  // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "tellmaro-idle-XXXXXX").string();
    const char* dir = mkdtemp(pattern.data());
    if (!dir) {
        std::perror("mkdtemp");
        return 1;
    }
    int status = run(dir);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}
