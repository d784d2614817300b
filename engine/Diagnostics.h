#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace corvane {

// Texts for the values that appear in diagnostic lines: doubles in their shortest round-trip form
// (whole numbers keep ".0"), booleans as "true"/"false", absent values as "nil".
std::string formatDouble(double value);
inline std::string_view formatBool(bool value) { return value ? "true" : "false"; }
inline std::string_view orNil(const std::optional<std::string>& text) { return text ? std::string_view(*text) : "nil"; }
inline std::string orNil(const std::optional<double>& value) { return value ? formatDouble(*value) : "nil"; }

// The one sink for the engine's "[DEBUG] ..." lines. By default every line goes to standard output,
// through a buffer that flush() empties (the run driver flushes at the end of each file and of the run;
// the buffer also empties when it fills, when the sink is replaced and when the process exits; outside a
// run every line is written at once), so a
// run of many files costs few write calls. A front end may redirect the lines (to standard error, a
// log view) or switch them off, and a test may capture them. Thread-safe: the write queue prints from
// its own thread.
//
// line() takes the pieces of one line and joins them without separators; the pieces are turned into
// text only when a sink is listening, so a silenced run pays nothing for its diagnostics.
class Diagnostics {
public:
    using Sink = std::function<void(std::string_view line)>;

    // Replaces the sink; an empty function silences every line. Returns the previous sink.
    static Sink setSink(Sink sink);
    // Writes what the default sink has buffered.
    static void flush();
    static bool enabled();

    template <typename... Pieces>
    static void line(const Pieces&... pieces) {
        if (!enabled()) return;
        std::string text;
        (append(text, pieces), ...);
        write(text);
    }

private:
    static void write(std::string_view text);

    static void append(std::string& out, std::string_view piece) { out.append(piece); }
    static void append(std::string& out, const char* piece) { out.append(piece); }
    static void append(std::string& out, const std::string& piece) { out.append(piece); }
    static void append(std::string& out, char piece) { out.push_back(piece); }
    static void append(std::string& out, bool piece) { out.append(formatBool(piece)); }
    static void append(std::string& out, double piece) { out.append(formatDouble(piece)); }
    static void append(std::string& out, const std::optional<std::string>& piece) { out.append(orNil(piece)); }
    static void append(std::string& out, const std::optional<double>& piece) { out.append(orNil(piece)); }
    template <typename Int>
        requires(std::is_integral_v<Int> && !std::is_same_v<Int, bool> && !std::is_same_v<Int, char>)
    static void append(std::string& out, Int piece) {
        out.append(std::to_string(piece));
    }
};

}  // namespace corvane
