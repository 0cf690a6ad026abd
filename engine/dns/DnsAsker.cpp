#include "engine/dns/DnsAsker.h"

#include <ares.h>
#include <arpa/nameser.h>
#include <poll.h>

#include <algorithm>
#include <climits>

namespace {

// Big enough for a referral with its glue; a bigger answer comes back
// truncated and is asked again over TCP.
constexpr int EdnsPayload = 1232;

void InitAresOnce() {
    // Does nothing on Linux beyond what the library needs; required once.
    static const int initialised = ares_library_init(ARES_LIB_INIT_ALL);
    (void)initialised;
}

TDnsReading Failure(TDnsOutcome outcome, std::string detail) {
    return TDnsReading{outcome, {}, std::move(detail)};
}

TDnsReading ReadingOfStatus(int status) {
    switch (status) {
    case ARES_ETIMEOUT:
        return Failure(TDnsOutcome::TimedOut, "no reply in time");
    case ARES_ECONNREFUSED:
        return Failure(TDnsOutcome::Failed, "connection refused");
    case ARES_EBADRESP:
        return Failure(TDnsOutcome::Malformed, "a reply that cannot be read");
    default:
        return Failure(TDnsOutcome::Failed, ares_strerror(status));
    }
}

} // namespace

std::string NameServerText(const TNameServer& server) {
    if (server.Name.empty() || server.Name == server.Address)
        return server.Address;
    return server.Name + " (" + server.Address + ")";
}

struct TDnsAsker::TQuestion {
    std::string Name;
    TNameServers Servers;
    TDone Done;
    std::size_t ServerIndex = 0;
    int TriesOnServer = 0;
    int ServersTried = 1;
    int Tries = 0;
    TDnsAsker* Owner = nullptr;
    TAddress* At = nullptr; // while in flight
};

struct TDnsAsker::TAddress {
    ares_channel Channel = nullptr;
    std::string Problem; // why no channel could be made
    TDnsPace Pace;
    std::deque<std::unique_ptr<TQuestion>> Waiting;
    std::size_t InFlight = 0;
};

TDnsAsker::TDnsAsker(TDnsBounds bounds) : FBounds(bounds) {
    FBounds.TriesPerServer = std::max(FBounds.TriesPerServer, 1);
    FBounds.ServersPerName = std::max(FBounds.ServersPerName, 1);
    FBounds.MostInFlight = std::max<std::size_t>(FBounds.MostInFlight, 1);
    FBounds.MostPerAddress = std::max<std::size_t>(FBounds.MostPerAddress, 1);
    InitAresOnce();
}

TDnsAsker::~TDnsAsker() {
    FClosing = true;
    for (auto& [key, address] : FAddresses) {
        if (address->Channel != nullptr)
            ares_destroy(address->Channel);
    }
}

TDnsAsker::TAddress& TDnsAsker::AddressOf(const TNameServer& server) {
    std::unique_ptr<TAddress>& slot = FAddresses[server.Address];
    if (slot)
        return *slot;
    slot = std::make_unique<TAddress>();
    ares_options options{};
    // Every reply reaches us as it came (a REFUSED too: it slows the pace),
    // and each try is one query to one server under our own bound.
    options.flags = ARES_FLAG_NOCHECKRESP | ARES_FLAG_NORECURSE | ARES_FLAG_EDNS;
    options.timeout = static_cast<int>(std::min<long long>(FBounds.PerTry.count(), INT_MAX));
    options.tries = 1;
    options.ednspsz = EdnsPayload;
    const int mask = ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_EDNSPSZ;
    int status = ares_init_options(&slot->Channel, &options, mask);
    if (status == ARES_SUCCESS)
        status = ares_set_servers_ports_csv(slot->Channel, server.Address.c_str());
    if (status != ARES_SUCCESS) {
        slot->Problem = "cannot ask " + server.Address + ": " + ares_strerror(status);
        if (slot->Channel != nullptr)
            ares_destroy(slot->Channel);
        slot->Channel = nullptr;
    }
    return *slot;
}

void TDnsAsker::AskNs(std::string name, TNameServers servers, TDone done) {
    auto question = std::make_unique<TQuestion>();
    question->Name = std::move(name);
    question->Servers = std::move(servers);
    question->Done = std::move(done);
    question->Owner = this;
    ++FPending;
    if (!question->Servers || question->Servers->empty()) {
        Finish(std::move(question), Failure(TDnsOutcome::Failed, "no name server to ask"));
        return;
    }
    // Names spread over the TLD's servers in turn.
    question->ServerIndex = FRotation++ % question->Servers->size();
    Queue(std::move(question));
}

void TDnsAsker::Queue(std::unique_ptr<TQuestion> question) {
    const TNameServer& server = (*question->Servers)[question->ServerIndex];
    TAddress& address = AddressOf(server);
    if (address.Channel == nullptr) {
        const std::string problem = address.Problem;
        TQuestion& asked = *question;
        if (Retry(asked, TDnsOutcome::Failed))
            Queue(std::move(question));
        else
            Finish(std::move(question), Failure(TDnsOutcome::Failed, problem));
        return;
    }
    address.Waiting.push_back(std::move(question));
}

void TDnsAsker::SendReady(TClock::time_point now) {
    for (auto& [key, address] : FAddresses) {
        while (!address->Waiting.empty() && FInFlight < FBounds.MostInFlight &&
               address->InFlight < FBounds.MostPerAddress && address->Pace.IsReady(now)) {
            std::unique_ptr<TQuestion> question = std::move(address->Waiting.front());
            address->Waiting.pop_front();
            address->Pace.Started(now);
            Send(*address, std::move(question));
        }
    }
}

void TDnsAsker::Send(TAddress& address, std::unique_ptr<TQuestion> question) {
    unsigned char* query = nullptr;
    int length = 0;
    const int built = ares_create_query(question->Name.c_str(), ns_c_in, ns_t_ns, 0, 0, &query,
                                        &length, EdnsPayload);
    if (built != ARES_SUCCESS) {
        Finish(std::move(question),
               Failure(TDnsOutcome::Failed, std::string("cannot ask: ") + ares_strerror(built)));
        return;
    }
    ++question->Tries;
    ++question->TriesOnServer;
    question->At = &address;
    ++address.InFlight;
    ++FInFlight;
    // c-ares owns the question until its callback, which may come at once.
    ares_send(address.Channel, query, length, &TDnsAsker::OnReply, question.release());
    ares_free_string(query);
}

void TDnsAsker::OnReply(void* arg, int status, int /*timeouts*/, unsigned char* reply, int length) {
    std::unique_ptr<TQuestion> question(static_cast<TQuestion*>(arg));
    question->Owner->Replied(std::move(question), status, reply, length);
}

void TDnsAsker::Replied(std::unique_ptr<TQuestion> question, int status, const unsigned char* reply,
                        int length) {
    TAddress& address = *question->At;
    question->At = nullptr;
    --address.InFlight;
    --FInFlight;
    if (FClosing || status == ARES_EDESTRUCTION || status == ARES_ECANCELLED)
        return;
    TDnsReading reading = status == ARES_SUCCESS && reply != nullptr && length > 0
                              ? ReadNsReply(reply, static_cast<std::size_t>(length), question->Name)
                              : ReadingOfStatus(status);
    if (reading.Outcome == TDnsOutcome::TimedOut || reading.Outcome == TDnsOutcome::Refused)
        address.Pace.SlowDown(TClock::now());
    else if (reading.Outcome != TDnsOutcome::Failed)
        address.Pace.Answered();
    if (Retry(*question, reading.Outcome)) {
        Queue(std::move(question));
        return;
    }
    Finish(std::move(question), std::move(reading));
}

// Moves the question to its next try when the outcome and the bounds allow
// one: the same server again after a loss, the next server after a refusal.
bool TDnsAsker::Retry(TQuestion& question, TDnsOutcome outcome) const {
    if (!IsDnsRetryable(outcome))
        return false;
    const bool sameServerMayMend = outcome == TDnsOutcome::TimedOut ||
                                   outcome == TDnsOutcome::Truncated ||
                                   outcome == TDnsOutcome::Malformed;
    if (sameServerMayMend && question.TriesOnServer < FBounds.TriesPerServer)
        return true;
    const int servers =
        static_cast<int>(std::min<std::size_t>(question.Servers->size(), FBounds.ServersPerName));
    if (question.ServersTried >= servers)
        return false;
    ++question.ServersTried;
    question.TriesOnServer = 0;
    question.ServerIndex = (question.ServerIndex + 1) % question.Servers->size();
    return true;
}

void TDnsAsker::Finish(std::unique_ptr<TQuestion> question, TDnsReading&& reading) {
    --FPending;
    TDnsExchange exchange;
    exchange.Reading = std::move(reading);
    exchange.Server = NameServerText((*question->Servers)[question->ServerIndex]);
    exchange.Tries = question->Tries;
    if (question->Done)
        question->Done(std::move(exchange));
}

int TDnsAsker::WaitMilliseconds(TClock::time_point now, TClock::time_point deadline) const {
    TClock::duration wait = std::max(deadline - now, TClock::duration::zero());
    for (const auto& [key, address] : FAddresses) {
        if (!address->Waiting.empty() && address->InFlight < FBounds.MostPerAddress &&
            FInFlight < FBounds.MostInFlight)
            wait = std::min(wait, std::max(address->Pace.ReadyAt() - now, TClock::duration{}));
        if (address->InFlight == 0)
            continue;
        timeval longest{0, 0};
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
        longest.tv_sec = static_cast<time_t>(micros / 1000000);
        longest.tv_usec = static_cast<suseconds_t>(micros % 1000000);
        timeval next{};
        if (const timeval* until = ares_timeout(address->Channel, &longest, &next))
            wait = std::min<TClock::duration>(wait, std::chrono::seconds(until->tv_sec) +
                                                        std::chrono::microseconds(until->tv_usec));
    }
    // Rounded up, so a wait of a fraction of a millisecond is not a busy loop.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void TDnsAsker::PollOnce(int timeoutMs) {
    struct TWatched {
        TAddress* Address;
        bool Read;
        bool Write;
    };
    std::vector<pollfd> fds;
    std::vector<TWatched> watched;
    for (auto& [key, address] : FAddresses) {
        if (address->InFlight == 0)
            continue;
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(address->Channel, sockets, ARES_GETSOCK_MAXNUM);
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const bool read = ARES_GETSOCK_READABLE(bits, i) != 0;
            const bool write = ARES_GETSOCK_WRITABLE(bits, i) != 0;
            if (!read && !write)
                continue;
            fds.push_back(pollfd{
                sockets[i], static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0});
            watched.push_back({address.get(), read, write});
        }
    }
    ::poll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const short events = fds[i].revents;
        if (events == 0)
            continue;
        const bool readable = (events & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool writable = (events & (POLLOUT | POLLERR | POLLHUP)) != 0;
        ares_process_fd(watched[i].Address->Channel,
                        readable && watched[i].Read ? fds[i].fd : ARES_SOCKET_BAD,
                        writable && watched[i].Write ? fds[i].fd : ARES_SOCKET_BAD);
    }
    // Time-outs, and sockets c-ares must still open.
    for (auto& [key, address] : FAddresses) {
        if (address->InFlight > 0)
            ares_process_fd(address->Channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    }
}

void TDnsAsker::Process(std::chrono::milliseconds wait) {
    const TClock::time_point deadline = TClock::now() + wait;
    for (;;) {
        TClock::time_point now = TClock::now();
        SendReady(now);
        if (FPending == 0)
            return;
        PollOnce(WaitMilliseconds(now, deadline));
        if (TClock::now() >= deadline) {
            SendReady(TClock::now());
            return;
        }
    }
}
