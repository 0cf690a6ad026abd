#pragma once

// A real authoritative name server for the tests: NSD on a loopback port,
// started by the test with a configuration and zones it writes into a
// folder of its own, and stopped with it. The system's NSD service is never
// touched.

#include <QProcess>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>
#include <vector>

class TLocalNsd {
public:
    // zones: the zone name ("com") and its master file text.
    explicit TLocalNsd(std::map<std::string, std::string> zones);
    ~TLocalNsd();
    TLocalNsd(const TLocalNsd&) = delete;
    TLocalNsd& operator=(const TLocalNsd&) = delete;

    // Whether the nsd program is there.
    static bool Installed();
    // Starts NSD and waits until it takes connections; false with Error().
    bool Start();
    void Stop();

    int Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    const std::string& Error() const { return FError; }

private:
    bool StartOn(int port);

    std::map<std::string, std::string> FZones;
    QTemporaryDir FFolder;
    std::unique_ptr<QProcess> FProcess;
    int FPort = 0;
    std::string FError;
};

// The master file of zone tld: its SOA and NS, each name of delegated
// (relative, "taken") with two NS records, then the extra lines as written.
std::string DelegatingZone(const std::string& tld, const std::vector<std::string>& delegated,
                           const std::string& extra = "");
