#include "engine/dns/DnsPace.h"

#include <algorithm>

TDnsPace::TDnsPace(double rate) : FRate(std::clamp(rate, SlowestRate, FastestRate)) {}

void TDnsPace::Started(TClock::time_point now) {
    // A late start does not earn a burst: the interval counts from now.
    const auto interval =
        std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(1.0 / FRate));
    FNextStart = std::max(FNextStart, now - interval) + interval;
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
