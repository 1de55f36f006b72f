// The wait budget for held files and the process's own temporary names
// (core side).
#include <chrono>
#include <cstdio>

#include "scene/file_commit.h"

#if defined(_WIN32)
#include <process.h>
#define PLEXA_PROCESS_ID _getpid()
#else
#include <unistd.h>
#define PLEXA_PROCESS_ID getpid()
#endif

namespace plexa::scene {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// Each pause, with its start and length: the window holds few enough that a
// plain array is the whole record.
struct Pause {
    int64_t start;
    int64_t length;
};
constexpr int kMostPauses = 64;
Pause g_pauses[kMostPauses];
int g_pauseCount = 0;
int64_t g_waited = 0;

int64_t waitedInWindow(int64_t now) {
    int64_t total = 0;
    int kept = 0;
    for (int i = 0; i < g_pauseCount; ++i) {
        if (g_pauses[i].start + kWaitWindowMs <= now) continue;
        total += g_pauses[i].length;
        g_pauses[kept++] = g_pauses[i];
    }
    g_pauseCount = kept;
    return total;
}

}  // namespace

bool pauseWithinBudget() {
    const int64_t start = nowMs();
    // A pause is never allowed to start past the budget, so the waits of a
    // window end at most one pause after it.
    constexpr int64_t kPauseMs = 50;
    if (waitedInWindow(start) + kPauseMs > kWaitBudgetMs || g_pauseCount == kMostPauses) return false;
    pauseBeforeRetry();
    const int64_t length = nowMs() - start;
    g_pauses[g_pauseCount++] = {start, length};
    g_waited += length;
    return true;
}

int64_t millisecondsWaited() { return g_waited; }

bool temporaryName(const char* fileName, std::string& out) {
    char name[512];
    const int formed = std::snprintf(name, sizeof name, "%s.new-%ld", fileName, static_cast<long>(PLEXA_PROCESS_ID));
    if (formed <= 0 || static_cast<size_t>(formed) >= sizeof name || formed >= 260) return false;
    out = name;
    return true;
}

}  // namespace plexa::scene
