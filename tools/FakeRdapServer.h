#pragma once

// A fake RDAP server on a loopback port, for tests, benchmarks and offline
// trials. It speaks HTTP/1.1 with keep-alive (plain, or TLS when given a
// certificate), answers `/domain/<name>` from a folder of JSON files, and can
// be slow, limit each client, fail or stay silent as real servers do.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class TFakeRdapMode {
    Normal, // answer from the responder and the folder
    Silent, // read each request, never answer, never close
    Error,  // answer every request with 500
};

// One answer: status, extra header lines, body. Content-Length and
// Connection are added by the server.
struct TFakeRdapResponse {
    int Status = 200;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
};

// What a responder is told of a request.
struct TFakeRdapRequest {
    std::string Method;
    std::string Path;   // with its query string
    std::string Accept; // the Accept header, or ""
};

struct TFakeRdapOptions {
    std::string Host = "127.0.0.1";
    int Port = 0; // 0: any free port; Port() tells which
    // Where answers come from, for a request path (query string removed):
    // Responder (when set and it returns an answer), then for a path ending in
    // "/domain/<name>" the file "<name>.json" or "<name>" of AnswersDir (name
    // lower-cased) as 200, else 404 with an RDAP error body. Other paths: 400.
    // The responder runs on the connection's thread.
    std::function<std::optional<TFakeRdapResponse>(const TFakeRdapRequest& request)> Responder;
    std::string AnswersDir;
    TFakeRdapMode Mode = TFakeRdapMode::Normal;
    int LatencyMs = 0; // wait before each answer
    // Per client address: at most LimitRequests requests in each window of
    // LimitWindowMs; beyond that the answer is 429 with Retry-After. 0: no limit.
    int LimitRequests = 0;
    int LimitWindowMs = 1000;
    // The Retry-After value sent with a 429 ("7", or an HTTP-date); empty: the
    // whole seconds left in the client's window, rounded up.
    std::string RetryAfter;
    // Both set: the server speaks TLS with this certificate and key (PEM).
    std::string CertFile;
    std::string KeyFile;
    std::string LogFile; // when set, every request path received is appended, one per line
    // Keep the request paths in memory for Requests(); a long-running server
    // for benchmarks turns this off so memory stays flat.
    bool KeepRequests = true;
};

class TFakeRdapServer {
public:
    explicit TFakeRdapServer(TFakeRdapOptions options);
    ~TFakeRdapServer(); // stops the server

    TFakeRdapServer(const TFakeRdapServer&) = delete;
    TFakeRdapServer& operator=(const TFakeRdapServer&) = delete;

    // Binds and starts serving on threads of its own. False with Error() set
    // when the port cannot be bound or the certificate cannot be loaded.
    bool Start();
    // Closes the listening socket and every connection, and joins the threads.
    void Stop();

    int Port() const;
    // "127.0.0.1:PORT".
    std::string Address() const;
    // "http://127.0.0.1:PORT/" (https with TLS), ready for TAVIREL_RDAP_BASE.
    std::string BaseUrl() const;
    const std::string& Error() const;

    // Request paths received so far (with their query strings), in arrival order.
    std::vector<std::string> Requests() const;
    // Connections accepted so far, and requests read on them.
    int AcceptedCount() const;
    int RequestCount() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
