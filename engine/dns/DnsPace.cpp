#include "engine/dns/DnsPace.h"

#include <algorithm>

TDnsPace::TDnsPace(double rate) : FRate(std::clamp(rate, SlowestRate, FastestRate)) {}

void TDnsPace::Started(TClock::time_point now) {
    // A late start earns at most CatchUpSpell's worth of queries at once:
    // the asker wakes a millisecond at a time, and at thousands a second
    // several queries fall due between two wakes. An idle spell earns no
    // more than that.
    const auto interval =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(1.0 / FRate));
    const TClock::duration credit = std::max<TClock::duration>(interval, CatchUpSpell);
    FNextStart = std::max(FNextStart, now - credit) + interval;
}

void TDnsPace::Answered() {
    if (++FAnsweredSinceChange < FRate)
        return;
    FRate = std::min(FRate * 2, FastestRate);
    FAnsweredSinceChange = 0;
}

void TDnsPace::SlowDown(TClock::time_point now) {
    if (FLastSlowDown != TClock::time_point{} && now - FLastSlowDown < SlowDownSpell)
        return;
    FLastSlowDown = now;
    FRate = std::max(FRate / 2, SlowestRate);
    FAnsweredSinceChange = 0;
}
