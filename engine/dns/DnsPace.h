#pragma once

// How fast one name-server address is asked. A TLD's servers answer
// thousands of queries a second, so the pace starts high and doubles after
// every second's worth of answers; a time-out or a REFUSED (the server's
// rate limit, or a loss on the way) halves it, so the batch backs off from a
// server that drops or refuses rather than lose names to it. Plain C++ with
// the times handed in.

#include <chrono>

class TDnsPace {
public:
    using TClock = std::chrono::steady_clock;

    static constexpr double StartRate = 2000; // queries a second
    static constexpr double FastestRate = 50000;
    static constexpr double SlowestRate = 5;
    static constexpr auto SlowDownSpell = std::chrono::milliseconds(200);
    static constexpr auto CatchUpSpell = std::chrono::milliseconds(4);

    explicit TDnsPace(double rate = StartRate);

    TClock::time_point ReadyAt() const { return FNextStart; }
    bool IsReady(TClock::time_point now) const { return now >= FNextStart; }
    double Rate() const { return FRate; }

    // A query leaves now.
    void Started(TClock::time_point now);
    // An answer came (whatever it said).
    void Answered();
    // A time-out or a refusal, noticed at now. The queries in flight when
    // a server stalls all time out together: one halving a spell is enough.
    void SlowDown(TClock::time_point now);

private:
    double FRate;
    double FAnsweredSinceChange = 0;
    TClock::time_point FNextStart{};
    TClock::time_point FLastSlowDown{};
};
