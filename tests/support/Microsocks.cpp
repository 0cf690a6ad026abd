#include "tests/support/Microsocks.h"

#include "tests/support/LoopbackPorts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool AcceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

} // namespace

TMicrosocks::TMicrosocks(TMicrosocksOptions options) {
    // Another program may take the free port first; then microsocks exits
    // and a new port is tried.
    for (int attempt = 0; attempt < 5 && !Started(); ++attempt) {
        const int port = FreeLoopbackPort();
        if (port != 0)
            StartOn(port, options);
    }
}

TMicrosocks::~TMicrosocks() {
    Stop();
}

std::string TMicrosocks::Address() const {
    return "127.0.0.1:" + std::to_string(FPort);
}

bool TMicrosocks::StartOn(int port, const TMicrosocksOptions& options) {
    std::vector<std::string> args = {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
    if (!options.User.empty())
        args.insert(args.end(), {"-u", options.User, "-P", options.Password});
    if (!options.BindAddress.empty())
        args.insert(args.end(), {"-b", options.BindAddress});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Its notes on every connection would only clutter the test's output.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "microsocks", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        FError = std::string("cannot start microsocks (scripts/bootstrap.sh installs it): ") +
                 std::strerror(rc);
        return false;
    }
    for (int i = 0; i < 300; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            FError = "microsocks exited at once (port " + std::to_string(port) + " taken?)";
            return false;
        }
        if (AcceptsConnections(port)) {
            FPid = pid;
            FPort = port;
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    FError = "microsocks did not listen on port " + std::to_string(port) + " within 3 s";
    return false;
}

void TMicrosocks::Stop() {
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}
