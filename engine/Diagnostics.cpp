#include "engine/Diagnostics.h"

#include "engine/RunScope.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <mutex>

namespace corvane {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

// The default sink's buffer; guarded by sinkMutex, like every call of the sink.
std::string& standardOutputBuffer() {
    static std::string buffer;
    return buffer;
}

constexpr size_t bufferLimit = 64 * 1024;

// Called with sinkMutex held. Goes through stdio so that the lines keep their place among whatever
// else the program prints on standard output.
void flushStandardOutputLocked() {
    std::string& buffer = standardOutputBuffer();
    if (buffer.empty()) return;
    std::fwrite(buffer.data(), 1, buffer.size(), stdout);
    std::fflush(stdout);
    buffer.clear();
}

void flushAtExit() {
    std::lock_guard lock(sinkMutex());
    flushStandardOutputLocked();
}

void writeToStandardOutput(std::string_view line) {
    // The buffer first: objects made before the exit handler is registered are destroyed after it runs.
    std::string& buffer = standardOutputBuffer();
    static const bool registered = std::atexit(flushAtExit) == 0;
    (void)registered;
    buffer.append(line);
    buffer.push_back('\n');
    // Only a run prints enough lines for the buffer to pay; a line printed outside one (the update
    // service's, a window's start-up) is written at once, so that nobody waits on it.
    if (buffer.size() >= bufferLimit || RunScope::current() == 0) flushStandardOutputLocked();
}

Diagnostics::Sink& currentSink() {
    static Diagnostics::Sink sink = writeToStandardOutput;
    return sink;
}

std::atomic<bool>& sinkPresent() {
    static std::atomic<bool> present{true};
    return present;
}

}  // namespace

std::string formatDouble(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // The shortest digits that read back to the same double, as d.ddde±x.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view scientific(buffer, static_cast<size_t>(end - buffer));
    const size_t ePos = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, ePos);
    const int exponent = std::stoi(std::string(scientific.substr(ePos + 1)));

    std::string sign;
    if (mantissa.front() == '-') {
        sign = "-";
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits.push_back(c);

    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude <= 9007199254740992.0) {
        std::string out = sign;
        const int pointAfter = exponent + 1;  // digits before the decimal point
        if (pointAfter <= 0) {
            out += "0.";
            out.append(static_cast<size_t>(-pointAfter), '0');
            out += digits;
        } else if (static_cast<size_t>(pointAfter) >= digits.size()) {
            out += digits;
            out.append(static_cast<size_t>(pointAfter) - digits.size(), '0');
            out += ".0";
        } else {
            out += digits.substr(0, static_cast<size_t>(pointAfter));
            out += '.';
            out += digits.substr(static_cast<size_t>(pointAfter));
        }
        return out;
    }

    std::string out = sign + digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + exponentText;
}

Diagnostics::Sink Diagnostics::setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    flushStandardOutputLocked();
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    sinkPresent() = static_cast<bool>(currentSink());
    return previous;
}

void Diagnostics::flush() {
    std::lock_guard lock(sinkMutex());
    flushStandardOutputLocked();
}

bool Diagnostics::enabled() { return sinkPresent().load(std::memory_order_relaxed); }

void Diagnostics::write(std::string_view text) {
    std::lock_guard lock(sinkMutex());
    if (currentSink()) currentSink()(text);
}

}  // namespace corvane
