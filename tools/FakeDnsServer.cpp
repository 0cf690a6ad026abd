#include "tools/FakeDnsServer.h"

#include <ldns/ldns.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int TcpReadMs = 2000;
constexpr int BindTries = 20;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

bool ReadAll(int fd, unsigned char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, TcpReadMs) <= 0)
            return false;
        const ssize_t n = ::recv(fd, into + got, size - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void PushRecords(ldns_pkt* reply, ldns_pkt_section section, const std::vector<std::string>& rrs) {
    for (const std::string& text : rrs) {
        ldns_rr* rr = nullptr;
        if (ldns_rr_new_frm_str(&rr, text.c_str(), 3600, nullptr, nullptr) == LDNS_STATUS_OK)
            ldns_pkt_push_rr(reply, section, rr);
    }
}

} // namespace

TFakeDnsServer::TFakeDnsServer(TFakeDnsResponder responder) : FResponder(std::move(responder)) {}

TFakeDnsServer::~TFakeDnsServer() {
    Stop();
}

bool TFakeDnsServer::Start() {
    if (::pipe(FWake) != 0) {
        FError = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // The UDP port is free; the TCP one at the same number usually is too.
    for (int attempt = 0; attempt < BindTries && FTcp < 0; ++attempt) {
        FUdp = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        if (FUdp < 0 || ::bind(FUdp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(FUdp, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            FError = std::string("udp: ") + std::strerror(errno);
            return false;
        }
        FPort = ntohs(address.sin_port);
        FTcp = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(FTcp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in tcp = Loopback(FPort);
        if (::bind(FTcp, reinterpret_cast<sockaddr*>(&tcp), sizeof tcp) != 0 ||
            ::listen(FTcp, 16) != 0) {
            ::close(FTcp);
            ::close(FUdp);
            FTcp = FUdp = -1;
        }
    }
    if (FTcp < 0) {
        FError = "no loopback port free for both UDP and TCP";
        return false;
    }
    FThread = std::thread([this] { Serve(); });
    return true;
}

void TFakeDnsServer::Stop() {
    if (FThread.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(FWake[1], &byte, 1);
        FThread.join();
    }
    for (int* fd : {&FUdp, &FTcp, &FWake[0], &FWake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

std::vector<TFakeDnsQuestion> TFakeDnsServer::Questions() const {
    std::lock_guard lock(FMutex);
    return FQuestions;
}

void TFakeDnsServer::Serve() {
    for (;;) {
        pollfd fds[3] = {{FWake[0], POLLIN, 0}, {FUdp, POLLIN, 0}, {FTcp, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN)
            AnswerUdp();
        if (fds[2].revents & POLLIN)
            AnswerTcp();
    }
}

void TFakeDnsServer::AnswerUdp() {
    unsigned char query[4096];
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t n =
        ::recvfrom(FUdp, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (n <= 0)
        return;
    const std::string reply = Reply(query, static_cast<std::size_t>(n), false);
    if (!reply.empty())
        ::sendto(FUdp, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                 peerLength);
}

void TFakeDnsServer::AnswerTcp() {
    const int fd = ::accept(FTcp, nullptr, nullptr);
    if (fd < 0)
        return;
    unsigned char size[2];
    std::vector<unsigned char> query;
    if (ReadAll(fd, size, 2)) {
        query.resize(static_cast<std::size_t>(size[0] << 8 | size[1]));
        if (ReadAll(fd, query.data(), query.size())) {
            const std::string reply = Reply(query.data(), query.size(), true);
            if (!reply.empty()) {
                const unsigned char prefix[2] = {static_cast<unsigned char>(reply.size() >> 8),
                                                 static_cast<unsigned char>(reply.size() & 0xFF)};
                std::string framed(reinterpret_cast<const char*>(prefix), 2);
                framed += reply;
                [[maybe_unused]] const ssize_t sent =
                    ::send(fd, framed.data(), framed.size(), MSG_NOSIGNAL);
            }
        }
    }
    ::close(fd);
}

std::string TFakeDnsServer::Reply(const unsigned char* query, std::size_t length, bool tcp) {
    ldns_pkt* asked = nullptr;
    if (ldns_wire2pkt(&asked, query, length) != LDNS_STATUS_OK)
        return "";
    ldns_rr* question = ldns_rr_list_rr(ldns_pkt_question(asked), 0);
    if (question == nullptr) {
        ldns_pkt_free(asked);
        return "";
    }
    char* owner = ldns_rdf2str(ldns_rr_owner(question));
    TFakeDnsQuestion seen{owner ? owner : "", static_cast<int>(ldns_rr_get_type(question)), tcp,
                          ldns_pkt_rd(asked)};
    std::free(owner);
    while (!seen.Name.empty() && seen.Name.back() == '.')
        seen.Name.pop_back();
    {
        std::lock_guard lock(FMutex);
        FQuestions.push_back(seen);
    }
    const TFakeDnsAnswer answer = FResponder ? FResponder(seen) : TFakeDnsAnswer{};
    std::string wire;
    if (answer.Kind == TFakeDnsAnswer::TKind::Reply) {
        ldns_pkt* reply = ldns_pkt_new();
        ldns_pkt_set_id(reply, ldns_pkt_id(asked));
        ldns_pkt_set_qr(reply, true);
        ldns_pkt_set_rd(reply, ldns_pkt_rd(asked));
        ldns_pkt_set_aa(reply, answer.Authoritative);
        ldns_pkt_set_tc(reply, answer.Truncated);
        ldns_pkt_set_rcode(reply, static_cast<std::uint8_t>(answer.Rcode));
        ldns_pkt_push_rr(reply, LDNS_SECTION_QUESTION, ldns_rr_clone(question));
        PushRecords(reply, LDNS_SECTION_ANSWER, answer.Answer);
        PushRecords(reply, LDNS_SECTION_AUTHORITY, answer.Authority);
        PushRecords(reply, LDNS_SECTION_ADDITIONAL, answer.Additional);
        std::uint8_t* bytes = nullptr;
        std::size_t size = 0;
        if (ldns_pkt2wire(&bytes, reply, &size) == LDNS_STATUS_OK)
            wire.assign(reinterpret_cast<const char*>(bytes), size);
        std::free(bytes);
        ldns_pkt_free(reply);
    }
    ldns_pkt_free(asked);
    return wire;
}
