// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Diagnostics.h"

#include "engine/RunScope.h"

#include <algorithm>
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

std::atomic<bool>& sinkPresent() {
    static std::atomic<bool> present{true};
    return present;
}

// Whether the sink is the default one, whose lines are built in its buffer; guarded by sinkMutex.
bool& sinkIsStandardOutput() {
    static bool standardOutput = true;
    return standardOutput;
}

// The text a line for any other sink is built in, reused from line to line; guarded by sinkMutex.
std::string& lineText() {
    static std::string text;
    return text;
}

// Registers the exit flush before the buffer is first used.
std::string& registeredStandardOutputBuffer() {
    // The buffer first: objects made before the exit handler is registered are destroyed after it runs.
    std::string& buffer = standardOutputBuffer();
    static const bool registered = std::atexit(flushAtExit) == 0;
    (void)registered;
    return buffer;
}

// Called with sinkMutex held, after a line has been appended to the buffer.
void endStandardOutputLine(std::string& buffer) {
    buffer.push_back('\n');
    // Only a run prints enough lines for the buffer to pay; a line printed outside one (the update
    // service's, a window's start-up) is written at once, so that nobody waits on it.
    if (buffer.size() >= bufferLimit || RunScope::current() == 0) flushStandardOutputLocked();
}

// The default sink. Lines reach it through its buffer directly (see LineWriter); it is called as a
// function only when a front end wraps it in a sink of its own.
void writeToStandardOutput(std::string_view line) {
    std::string& buffer = registeredStandardOutputBuffer();
    buffer.append(line);
    endStandardOutputLine(buffer);
}

Diagnostics::Sink& currentSink() {
    static Diagnostics::Sink sink = writeToStandardOutput;
    return sink;
}

// Appends formatDouble's text, built on the stack: diagnostic lines print many numbers.
void appendDouble(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("nan");
        return;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return;
    }
    if (value == 0) {
        out.append(std::signbit(value) ? "-0.0" : "0.0");
        return;
    }

    // The shortest digits that read back to the same double, as [-]d.ddde±xx.
    char scientific[64];
    char* const end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                    std::chars_format::scientific).ptr;
    const char* const ePos = std::find(scientific, end, 'e');
    int exponent = 0;
    for (const char* c = ePos + 2; c < end; ++c) exponent = exponent * 10 + (*c - '0');
    if (ePos[1] == '-') exponent = -exponent;

    char digits[32];
    size_t count = 0;
    for (const char* c = scientific; c < ePos; ++c)
        if (*c >= '0' && *c <= '9') digits[count++] = *c;

    // The text is put together here and appended in one piece; it is at most 26 characters long.
    char text[64];
    char* next = text;
    auto put = [&](const char* from, size_t length) { next = std::copy(from, from + length, next); };
    auto putChars = [&](char c, size_t length) { next = std::fill_n(next, length, c); };
    if (value < 0) *next++ = '-';

    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude <= 9007199254740992.0) {
        const int pointAfter = exponent + 1;  // digits before the decimal point
        if (pointAfter <= 0) {
            put("0.", 2);
            putChars('0', static_cast<size_t>(-pointAfter));
            put(digits, count);
        } else if (static_cast<size_t>(pointAfter) >= count) {
            put(digits, count);
            putChars('0', static_cast<size_t>(pointAfter) - count);
            put(".0", 2);
        } else {
            put(digits, static_cast<size_t>(pointAfter));
            *next++ = '.';
            put(digits + pointAfter, count - static_cast<size_t>(pointAfter));
        }
    } else {
        *next++ = digits[0];
        if (count > 1) {
            *next++ = '.';
            put(digits + 1, count - 1);
        }
        *next++ = 'e';
        *next++ = exponent < 0 ? '-' : '+';
        const int absolute = std::abs(exponent);
        if (absolute < 10) *next++ = '0';
        next = std::to_chars(next, text + sizeof text, absolute).ptr;
    }
    out.append(text, static_cast<size_t>(next - text));
}

}  // namespace

std::string formatDouble(double value) {
    std::string text;
    appendDouble(text, value);
    return text;
}

Diagnostics::Sink Diagnostics::setSink(Sink sink) {
    std::lock_guard lock(sinkMutex());
    flushStandardOutputLocked();
    Sink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    sinkPresent() = static_cast<bool>(currentSink());
    using Function = void (*)(std::string_view);
    const Function* function = currentSink().target<Function>();
    sinkIsStandardOutput() = function && *function == &writeToStandardOutput;
    return previous;
}

void Diagnostics::flush() {
    std::lock_guard lock(sinkMutex());
    flushStandardOutputLocked();
}

bool Diagnostics::enabled() { return sinkPresent().load(std::memory_order_relaxed); }

Diagnostics::LineWriter::LineWriter() : lock_(sinkMutex()), toStandardOutput_(sinkIsStandardOutput()) {
    text_ = toStandardOutput_ ? &registeredStandardOutputBuffer() : &lineText();
    if (!toStandardOutput_) text_->clear();
    start_ = text_->size();
}

Diagnostics::LineWriter::~LineWriter() {
    // A line left unfinished (its pieces threw) leaves nothing in the buffer.
    if (!finished_ && toStandardOutput_) text_->resize(start_);
}

void Diagnostics::LineWriter::finish() {
    finished_ = true;
    if (toStandardOutput_) {
        endStandardOutputLine(*text_);
    } else if (currentSink()) {
        currentSink()(*text_);
    }
}

void Diagnostics::append(std::string& out, double piece) { appendDouble(out, piece); }

}  // namespace corvane
