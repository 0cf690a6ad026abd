// The main window under a large batch, on the offscreen platform: a million
// candidates in the list and a batch paced at a few thousand results a second
// against the fake WHOIS server (no latency). Reports what a user would feel:
// the longest stall of the event loop while the batch runs (the largest gap
// between the ticks of a 5 ms timer), how long the start click held the loop,
// the results a second, and the peak memory of the process.
//
//   window-scale-bench [CANDIDATES [SECONDS [RATE [THREADS]]]]

#include "batch/GbkListModel.h"
#include "tools/FakeWhoisServer.h"
#include "ui/Unit_Main.h"

#include <QApplication>
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

} // namespace

int main(int argc, char** argv) {
    const int candidates = Argument(argc, argv, 1, 1'000'000);
    const int seconds = Argument(argc, argv, 2, 30);
    const int rate = Argument(argc, argv, 3, 2000);
    const int threads = Argument(argc, argv, 4, 20);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The batch's journal goes to a folder of the bench's own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QApplication app(argc, argv);

    TFakeWhoisOptions options;
    options.FallbackReply = Reply;
    options.KeepQueries = false;
    TFakeWhoisServer server(options);
    if (!server.Start()) {
        std::fprintf(stderr, "fake server: %s\n", server.Error().c_str());
        return 1;
    }
    qputenv("TAVIREL_WHOIS_SERVER", QByteArray::fromStdString(server.Address()));

    TForm1 form;
    form.Dialogs.ShowMessage = [](const QString& text) {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    };
    {
        std::vector<std::string> names(static_cast<std::size_t>(candidates));
        for (int i = 0; i < candidates; ++i)
            names[static_cast<std::size_t>(i)] = "cand" + std::to_string(i) + ".com";
        form.DomainsList().SetLines(std::move(names));
    }
    form.resize(900, 700);
    form.show();
    form.StepIndex = 2;
    while (!form.btnStart->isEnabled())
        app.processEvents(QEventLoop::AllEvents, 50);
    form.Batch().SetUserPaces({{server.Address(), static_cast<double>(rate)}});
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

    QElapsedTimer startClick;
    startClick.start();
    form.btnStart->click();
    const qint64 startMs = startClick.elapsed();

    clock.start();
    ticker.start();
    // A loop of its own: quitting the application would close the window,
    // which asks first during a batch.
    QEventLoop run;
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    ticker.stop();
    const int results = form.DomainInfoList().Count();
    // The batch is not waited for: the process ends with its jobs.
    std::printf("candidates            %d\n", candidates);
    std::printf("threads, pace         %d, %d queries/s\n", threads, rate);
    std::printf("results               %d in %d s = %.0f /s\n", results, seconds,
                static_cast<double>(results) / seconds);
    std::printf("start click held loop %lld ms\n", static_cast<long long>(startMs));
    std::printf("longest stall         %lld ms (goal: at most 100)\n",
                static_cast<long long>(longestStall));
    std::printf("peak memory           %.0f MiB (goal: at most 400)\n", PeakMemoryMiB());
    std::fflush(stdout);
    std::_Exit(0);
}
