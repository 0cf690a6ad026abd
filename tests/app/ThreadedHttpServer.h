#pragma once

// The loopback HTTP server of the tests on a thread of its own, for code that
// blocks the test's thread while it downloads (libcurl, or a program the test
// starts and waits for): the server answers from its own event loop.

#include "tests/support/LocalHttpServer.h"

#include <QString>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class TThreadedHttpServer : public QThread {
public:
    using TSetup = std::function<void(TLocalHttpServer&)>;

    explicit TThreadedHttpServer(QString rootFolder, TSetup setup = {})
        : FRoot(std::move(rootFolder)), FSetup(std::move(setup)) {}
    ~TThreadedHttpServer() override { Stop(); }

    // Starts the thread and waits until the server listens; false when it could not.
    bool Listen() {
        start();
        std::unique_lock lock(FMutex);
        FReady.wait(lock, [this] { return FStarted; });
        return FPort != 0;
    }
    // Ends the server; its requests can be read afterwards.
    void Stop() {
        if (isRunning()) {
            quit();
            wait();
        }
    }
    QString BaseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
    // The requests the server received; read after Stop().
    const std::vector<TRecordedRequest>& Requests() const { return FRequests; }

protected:
    void run() override {
        TLocalHttpServer server(FRoot);
        if (FSetup)
            FSetup(server);
        const bool listening = server.Start();
        {
            std::lock_guard lock(FMutex);
            FPort = listening ? server.Port() : 0;
            FStarted = true;
        }
        FReady.notify_all();
        if (listening)
            exec();
        FRequests = server.Requests();
    }

private:
    QString FRoot;
    TSetup FSetup;
    std::mutex FMutex;
    std::condition_variable FReady;
    bool FStarted = false;
    quint16 FPort = 0;
    std::vector<TRecordedRequest> FRequests;
};
