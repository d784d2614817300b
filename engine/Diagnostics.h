// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <charconv>
#include <cstdint>
#include <functional>
#include <mutex>
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
// through a buffer that flush() empties, so a run of many files costs few write calls: the run driver
// flushes at the end of each file and of the run, and the buffer also empties when it fills, when the
// sink is replaced and when the process exits; outside a run every line is written at once. A front
// end may redirect the lines (to standard error, a log view) or switch them off, and a test may capture
// them. Thread-safe: lines may come from any thread.
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
        LineWriter writer;
        (append(writer.text(), pieces), ...);
        writer.finish();
    }

private:
    // One line on its way to the sink, holding the sink's lock from start to end. For the default sink
    // the pieces go straight into its buffer (no text of their own, no call through the function);
    // for any other they go into one reused text that is then passed to the sink.
    class LineWriter {
    public:
        LineWriter();
        ~LineWriter();
        LineWriter(const LineWriter&) = delete;
        LineWriter& operator=(const LineWriter&) = delete;

        std::string& text() { return *text_; }
        // Ends the line: into the buffer with its line break, or to the sink.
        void finish();

    private:
        std::unique_lock<std::mutex> lock_;
        std::string* text_;
        size_t start_;
        bool toStandardOutput_;
        bool finished_ = false;
    };

    static void append(std::string& out, std::string_view piece) { out.append(piece); }
    // The length of a literal piece is known when the line is compiled: no strlen per line.
    static void append(std::string& out, const char* piece) { out.append(piece, std::char_traits<char>::length(piece)); }
    static void append(std::string& out, const std::string& piece) { out.append(piece); }
    static void append(std::string& out, char piece) { out.push_back(piece); }
    static void append(std::string& out, bool piece) { out.append(formatBool(piece)); }
    static void append(std::string& out, double piece);
    static void append(std::string& out, const std::optional<std::string>& piece) { out.append(orNil(piece)); }
    static void append(std::string& out, const std::optional<double>& piece) {
        if (piece) {
            append(out, *piece);
        } else {
            out.append("nil");
        }
    }
    template <typename Int>
        requires(std::is_integral_v<Int> && !std::is_same_v<Int, bool> && !std::is_same_v<Int, char>)
    static void append(std::string& out, Int piece) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, piece);
        out.append(digits, result.ptr);
    }
};

}  // namespace corvane
