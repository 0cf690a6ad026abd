#pragma once

// Lowers the size of file this process, and every program it starts
// meanwhile, may write, for the object's life: a write past it fails with
// EFBIG, as a write on a full disk fails, and for root too. SIGXFSZ, which
// would end the process instead, is ignored meanwhile (started programs
// inherit that as well).

#include <sys/resource.h>

#include <csignal>

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        FActive = getrlimit(RLIMIT_FSIZE, &FOld) == 0;
        rlimit lowered = FOld;
        lowered.rlim_cur = bytes;
        FActive = FActive && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~TFileSizeLimit() {
        if (FActive)
            setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    // False when the limit could not be set.
    bool Active() const { return FActive; }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = SIG_DFL;
    bool FActive = false;
};
