// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's diagnostic lines would flood the test output; tests that check lines capture them.
#include "engine/Diagnostics.h"

namespace corvane::test {
// The sink the engine starts with, kept for the test of the lines it writes to standard output.
extern const Diagnostics::Sink standardOutputSink;
const Diagnostics::Sink standardOutputSink = Diagnostics::setSink({});
}  // namespace corvane::test
