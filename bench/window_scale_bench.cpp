// The main window under a large batch, on the offscreen platform: a million
// candidates in the list and a batch paced at a few thousand results a second
// against fake WHOIS servers (no latency). A server is asked at most a
// thousand times a second, so the names are spread over the suffixes of
// ServedSuffixes, each routed to a fake server of its own on loopback (no
// RDAP base, so that nothing leaves the machine). Reports what a user would feel:
// the longest stall of the event loop while the batch runs (the largest gap
// between the ticks of a 5 ms timer), how long the start click held the loop,
// the results a second, and the peak memory of the process.
//
//   window-scale-bench [CANDIDATES [SECONDS [RATE [THREADS [zone]]]]]
//
// With "zone", a zone file delegates every candidate, so that the batch is
// decided by it without a query, as fast as the window takes the results.

#include "batch/GbkListModel.h"
#include "engine/DataFolder.h"
#include "engine/RegistryData.h"
#include "engine/ServerChoice.h"
#include "tools/FakeWhoisServer.h"
#include "ui/Unit_Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The peak resident size of this process, in MiB (VmHWM).
double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kib = 0;
            status >> kib;
            return kib / 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

int Argument(int argc, char** argv, int index, int otherwise) {
    return argc > index ? std::atoi(argv[index]) : otherwise;
}

// A registered name's reply of the usual size.
const char* const Reply = "Domain Name: EXAMPLE.COM\r\n"
                          "Registrar WHOIS Server: whois.example-registrar.com\r\n"
                          "Updated Date: 2023-08-14T07:01:38Z\r\n"
                          "Creation Date: 1995-08-14T04:00:00Z\r\n"
                          "Registry Expiry Date: 2031-08-13T04:00:00Z\r\n"
                          "Registrar: Example Registrar, Inc.\r\n"
                          "Domain Status: clientTransferProhibited\r\n"
                          "Name Server: A.IANA-SERVERS.NET\r\n"
                          "Name Server: B.IANA-SERVERS.NET\r\n";

// Suffixes with a port-43 server in the data alone (none of the program's own
// table) and no RDAP base: routed by the data, they go nowhere else.
const char* const ServedSuffixes[] = {"ae", "af", "bg", "dk"};

// The shipped data with each served suffix routed to its fake server; null
// (after a message) when a served suffix would go anywhere else.
std::shared_ptr<const TRegistryData>
RoutedToFakeServers(const QString& folder,
                    const std::vector<std::unique_ptr<TFakeWhoisServer>>& servers) {
    const std::string file = QFile::encodeName(folder).toStdString() + "/tld-servers.tsv";
    {
        std::ofstream table(file);
        table << "tld\twhois_server\trdap_base\n";
        for (std::size_t i = 0; i < servers.size(); ++i)
            table << ServedSuffixes[i] << "\t" << servers[i]->Address() << "\t\n";
    }
    const TRegistryDataLoad load =
        LoadRegistryData(RegistryDataSourcesFor(ProgramDataFolder().string(), file));
    for (const std::string& problem : load.Problems)
        std::fprintf(stderr, "registry data: %s\n", problem.c_str());
    // Every way a name of a served suffix may be asked must end at its fake
    // server: nothing of the bench may leave the machine.
    for (std::size_t i = 0; i < servers.size(); ++i) {
        for (const TProtocolPreference preference :
             {TProtocolPreference::Auto, TProtocolPreference::Whois, TProtocolPreference::Rdap}) {
            const TServerChoice choice =
                ChooseServer(std::string("cand0.") + ServedSuffixes[i], *load.Data, preference);
            if (choice.Route.Protocol != TQueryProtocol::None &&
                (choice.Route.Protocol != TQueryProtocol::Whois ||
                 choice.Route.Server != servers[i]->Address() || !choice.RdapBase.empty())) {
                std::fprintf(stderr, "registry data: .%s is not routed to its fake server alone\n",
                             ServedSuffixes[i]);
                return nullptr;
            }
        }
    }
    return load.Data;
}

} // namespace

int main(int argc, char** argv) {
    const int candidates = Argument(argc, argv, 1, 1'000'000);
    const int seconds = Argument(argc, argv, 2, 30);
    const int rate = Argument(argc, argv, 3, 2000);
    const int threads = Argument(argc, argv, 4, 20);
    const bool byZone = argc > 5 && std::string(argv[5]) == "zone";

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The batch's journal goes to a folder of the bench's own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dataHome.path()));
    QApplication app(argc, argv);

    // The batch's journal goes to a folder of the bench's own, and no name
    // server is asked: DNS first is off below, and a name that slipped
    // through would go to a closed port.
    qputenv("TAVIREL_DNS_SERVER", "127.0.0.1:9");
    qunsetenv("TAVIREL_WHOIS_SERVER");
    qunsetenv("TAVIREL_RDAP_BASE");

    TFakeWhoisOptions options;
    options.FallbackReply = Reply;
    options.KeepQueries = false;
    std::vector<std::unique_ptr<TFakeWhoisServer>> servers;
    for (std::size_t i = 0; i < std::size(ServedSuffixes); ++i) {
        servers.push_back(std::make_unique<TFakeWhoisServer>(options));
        if (!servers.back()->Start()) {
            std::fprintf(stderr, "fake server: %s\n", servers.back()->Error().c_str());
            return 1;
        }
    }
    const std::shared_ptr<const TRegistryData> data = RoutedToFakeServers(dataHome.path(), servers);
    if (!data)
        return 1;

    TForm1 form(data);
    form.Dialogs.ShowMessage = [](const QString& text) {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    };
    {
        std::vector<std::string> names(static_cast<std::size_t>(candidates));
        for (int i = 0; i < candidates; ++i)
            names[static_cast<std::size_t>(i)] =
                "cand" + std::to_string(i) + "." + ServedSuffixes[i % std::size(ServedSuffixes)];
        if (byZone) {
            const QString zoneFile = dataHome.filePath("candidates.zone");
            std::ofstream zone(QFile::encodeName(zoneFile).toStdString());
            for (const std::string& name : names)
                zone << name << ".\t3600\tin\tns\tns1.host.example.\n";
            form.findChild<QLineEdit*>("txtZoneFiles")->setText(zoneFile);
        }
        form.DomainsList().SetLines(std::move(names));
    }
    form.resize(900, 700);
    form.show();
    form.StepIndex = 2;
    while (!form.btnStart->isEnabled())
        app.processEvents(QEventLoop::AllEvents, 50);
    std::map<std::string, double> paces;
    for (const auto& server : servers)
        paces[server->Address()] = static_cast<double>(rate) / static_cast<double>(servers.size());
    form.Batch().SetUserPaces(paces);
    if (auto* dnsFirst = form.findChild<QCheckBox*>("cbDnsFirst"))
        dnsFirst->setChecked(false);
    form.txtMaxThread->setText(QString::number(threads));

    // The gaps between ticks: a tick late by more than its interval is a
    // stall of the loop.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestStall = std::max(longestStall, now - lastTick);
        lastTick = now;
    });

    // The ticks run from before the click: a click that holds the loop (a
    // zone indexed for the first time, the journal written) is a stall too.
    clock.start();
    ticker.start();
    qint64 endedAt = -1;
    QObject::connect(&form.Batch(), &TBatchController::BatchEnded,
                     [&] { endedAt = clock.elapsed(); });
    QElapsedTimer startClick;
    startClick.start();
    form.btnStart->click();
    const qint64 startMs = startClick.elapsed();
    // A loop of its own: quitting the application would close the window,
    // which asks first during a batch.
    QEventLoop run;
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    ticker.stop();
    const int results = form.DomainInfoList().Count();
    // The batch is not waited for: the process ends with its jobs.
    std::printf("candidates            %d\n", candidates);
    std::printf("threads, pace         %d, %d queries/s%s\n", threads, rate,
                byZone ? " (every name in a zone file)" : "");
    std::printf("results               %d in %d s = %.0f /s\n", results, seconds,
                static_cast<double>(results) / seconds);
    if (endedAt >= 0)
        std::printf("batch ended after     %.1f s\n", static_cast<double>(endedAt) / 1000);
    std::printf("start click took      %lld ms\n", static_cast<long long>(startMs));
    std::printf("longest stall         %lld ms (goal: at most 100)\n",
                static_cast<long long>(longestStall));
    std::printf("peak memory           %.0f MiB (goal: at most 400)\n", PeakMemoryMiB());
    std::fflush(stdout);
    std::_Exit(0);
}
