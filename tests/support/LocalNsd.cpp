#include "tests/support/LocalNsd.h"

#include "tests/support/LoopbackPorts.h"

#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

constexpr int PortTries = 3;
constexpr auto ReadyBound = std::chrono::seconds(20);

QString NsdProgram() {
    QString found = QStandardPaths::findExecutable("nsd");
    if (found.isEmpty())
        found = QStandardPaths::findExecutable("nsd", {"/usr/sbin", "/usr/local/sbin"});
    return found;
}

bool TakesConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

} // namespace

TLocalNsd::TLocalNsd(std::map<std::string, std::string> zones) : FZones(std::move(zones)) {}

TLocalNsd::~TLocalNsd() {
    Stop();
}

bool TLocalNsd::Installed() {
    return !NsdProgram().isEmpty();
}

bool TLocalNsd::Start() {
    if (!FFolder.isValid()) {
        FError = "no temporary folder";
        return false;
    }
    for (int attempt = 0; attempt < PortTries; ++attempt) {
        if (StartOn(FreeLoopbackPort()))
            return true;
    }
    return false;
}

bool TLocalNsd::StartOn(int port) {
    const std::string dir = FFolder.path().toStdString();
    std::ofstream conf(dir + "/nsd.conf");
    conf << "server:\n"
         << "    ip-address: 127.0.0.1\n"
         << "    port: " << port << "\n"
         << "    username: \"\"\n    chroot: \"\"\n    database: \"\"\n"
         << "    zonesdir: \"" << dir << "\"\n"
         << "    pidfile: \"" << dir << "/nsd.pid\"\n"
         << "    zonelistfile: \"" << dir << "/zone.list\"\n"
         << "    xfrdfile: \"" << dir << "/xfrd.state\"\n"
         << "    xfrdir: \"" << dir << "\"\n"
         << "    logfile: \"" << dir << "/nsd.log\"\n"
         << "    server-count: 1\n    do-ip6: no\n    hide-version: yes\n"
         << "remote-control:\n    control-enable: no\n";
    for (const auto& [name, text] : FZones) {
        std::ofstream(dir + "/" + name + ".zone") << text;
        conf << "zone:\n    name: \"" << name << "\"\n    zonefile: \"" << name << ".zone\"\n";
    }
    conf.close();
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->start(NsdProgram(), {"-d", "-c", QString::fromStdString(dir + "/nsd.conf")});
    if (!FProcess->waitForStarted(5000)) {
        FError = "nsd did not start: " + FProcess->errorString().toStdString();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + ReadyBound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (FProcess->state() != QProcess::Running) {
            FError = "nsd ended: " + FProcess->readAll().toStdString();
            return false;
        }
        if (TakesConnections(port)) {
            FPort = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FError = "nsd did not take connections in time";
    Stop();
    return false;
}

void TLocalNsd::Stop() {
    if (!FProcess)
        return;
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(5000)) {
            FProcess->kill();
            FProcess->waitForFinished(5000);
        }
    }
    FProcess.reset();
}

std::string DelegatingZone(const std::string& tld, const std::vector<std::string>& delegated,
                           const std::string& extra) {
    std::string zone = "$ORIGIN " + tld + ".\n$TTL 3600\n" +
                       "@ IN SOA ns.nic.test. hostmaster.nic.test. 2024010101 3600 600 86400 300\n"
                       "@ IN NS ns.nic.test.\n";
    for (const std::string& name : delegated)
        zone += name + " IN NS ns1.host.test.\n" + name + " IN NS ns2.host.test.\n";
    return zone + extra;
}
