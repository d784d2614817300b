// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/DiagnosticsCapture.h"

#include <mutex>

namespace corvane {

struct DiagnosticsCapture::State {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

DiagnosticsCapture::DiagnosticsCapture() : state_(std::make_shared<State>()) {
    previous_ = Diagnostics::setSink([state = state_](std::string_view line) {
        std::lock_guard lock(state->mutex);
        state->lines.emplace_back(line);
    });
}

DiagnosticsCapture::~DiagnosticsCapture() { Diagnostics::setSink(std::move(previous_)); }

std::vector<std::string> DiagnosticsCapture::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

std::string DiagnosticsCapture::text() const {
    std::string out;
    for (const auto& line : lines()) out += line + "\n";
    return out;
}

void DiagnosticsCapture::clear() {
    std::lock_guard lock(state_->mutex);
    state_->lines.clear();
}

}  // namespace corvane
