#include "engine/RunScope.h"

#include <mutex>

namespace corvane {
namespace {

struct Runs {
    std::mutex mutex;
    uint64_t last = 0;
    int active = 0;
};

Runs& runs() {
    static Runs state;
    return state;
}

}  // namespace

uint64_t RunScope::begin() {
    Runs& state = runs();
    std::lock_guard lock(state.mutex);
    ++state.active;
    return ++state.last;
}

void RunScope::end() {
    Runs& state = runs();
    std::lock_guard lock(state.mutex);
    if (state.active > 0) --state.active;
}

uint64_t RunScope::current() {
    Runs& state = runs();
    std::lock_guard lock(state.mutex);
    return state.active > 0 ? state.last : 0;
}

}  // namespace corvane
