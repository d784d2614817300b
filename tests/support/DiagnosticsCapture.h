// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Diagnostics.h"

#include <memory>
#include <string>
#include <vector>

namespace corvane {

// Captures every diagnostic line for the lifetime of the object, then restores the previous sink.
class DiagnosticsCapture {
public:
    DiagnosticsCapture();
    ~DiagnosticsCapture();
    DiagnosticsCapture(const DiagnosticsCapture&) = delete;
    DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

    // The lines captured so far, in order.
    std::vector<std::string> lines() const;
    // The captured lines, each followed by "\n".
    std::string text() const;
    void clear();

private:
    struct State;
    std::shared_ptr<State> state_;
    Diagnostics::Sink previous_;
};

}  // namespace corvane
