// Lookups from a zone's index: the names "name<i>.com" of a zone that
// delegates name0.com to name<N-1>.com (as zone_bench.sh generates it), a
// million held and a million not, in an order that jumps across the index.
// Prints the lookups a second.
//
//   zone-lookup-bench ZONEFILE NAMES

#include "engine/zone/ZoneIndex.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zone-lookup-bench ZONEFILE NAMES\n");
        return 2;
    }
    const long long names = std::atoll(argv[2]);
    std::string error;
    const auto index = TZoneIndex::Open(argv[1], error);
    if (!index || names <= 0) {
        std::fprintf(stderr, "zone-lookup-bench: %s\n",
                     index ? "NAMES must be positive" : error.c_str());
        return 1;
    }
    constexpr long long Lookups = 1'000'000;
    long long held = 0;
    const auto started = std::chrono::steady_clock::now();
    for (long long i = 0; i < Lookups; ++i) {
        const long long n = (i * 7919) % names;
        held += index->Holds("name" + std::to_string(n) + ".com") ? 1 : 0;
        held -= index->Holds("none" + std::to_string(n) + ".com") ? 1 : 0;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%lld lookups in %.2f s: %.0f lookups/s (%lld of %lld held names found, "
                "none of the others)\n",
                2 * Lookups, seconds, 2 * Lookups / seconds, held, Lookups);
    return held == Lookups ? 0 : 1;
}
