// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace corvane {

// Why a written temporary sidecar was refused before it could replace the original, one value per check
// (the number is the error's code).
enum class ValidationCode {
    notCreated = 1,
    empty = 2,
    tooSmall = 3,
    notXml = 4,
    missingStructure = 5,
    missingCoordinates = 6,
    unparseableCoordinates = 7,
    invalidHemisphereRefs = 8,
    notTheTextToRestore = 9,
};

// The fixed words a validation failure's message starts with: "Temp file was not created", "Temp file
// is empty", "Temp file too small", "Temp file is not valid XML", ...
std::string_view description(ValidationCode code);

// A failure that crosses a module border: a domain ("XMP", "DiskSpace", "Validation", "POSIX", "XML",
// "FileSystem", and the front ends' own), a numeric code within that domain, and the message that
// reaches the user unchanged. Callers ask what kind of failure it is through the predicates below; the
// named factories make the kinds that callers tell apart.
struct Error {
    std::string domain;
    int code = 0;
    std::string message;

    // A failed system call: domain "POSIX", the errno value as the code.
    static Error posix(int number, std::string message) { return Error{"POSIX", number, std::move(message)}; }
    // A sidecar the writer leaves as it is (it belongs to another image as well, has other names, was
    // saved by another program meanwhile, ...): domain "XMP", code 1.
    static Error sidecarLeftUnchanged(std::string message) { return Error{"XMP", 1, std::move(message)}; }
    // A sidecar whose document lacks what every sidecar has (an rdf:Description): "XMP" 1.
    static Error invalidSidecar(std::string message) { return Error{"XMP", 1, std::move(message)}; }
    // A file replaced only while it is still the one that was read, and it was not: "FileSystem" 1.
    static Error fileChanged() {
        return Error{"FileSystem", 1, "The file changed while it was being replaced; it was left as the other program saved it"};
    }
    // A replacement's temporary file that does not read back as the text written to it: "FileSystem" 2.
    static Error readBackMismatch(std::string_view temporary) {
        return Error{"FileSystem", 2, "“" + std::string(temporary) + "” does not read back as the text written to it"};
    }
    // A written temporary sidecar refused by the check `code`: "Validation", the message the check's
    // description followed by `detail` (" (42 bytes), likely corrupted").
    static Error validation(ValidationCode code, std::string_view detail = {}) {
        return Error{"Validation", static_cast<int>(code), std::string(description(code)) + std::string(detail)};
    }
    // Too little free space on the sidecar's volume: "DiskSpace" 1.
    static Error diskSpace(std::string message) { return Error{"DiskSpace", 1, std::move(message)}; }

    bool isPosix() const { return domain == "POSIX"; }
    // The path, or a folder on the way to it, does not exist.
    bool isMissingFile() const { return isPosix() && code == ENOENT; }
    // The file is larger than the reader would take.
    bool isFileTooLarge() const { return isPosix() && code == EFBIG; }
    bool isFileChanged() const { return domain == "FileSystem" && code == 1; }
    bool isReadBackMismatch() const { return domain == "FileSystem" && code == 2; }

    friend bool operator==(const Error&, const Error&) = default;
};

inline std::string_view description(ValidationCode code) {
    switch (code) {
        case ValidationCode::notCreated: return "Temp file was not created";
        case ValidationCode::empty: return "Temp file is empty";
        case ValidationCode::tooSmall: return "Temp file too small";
        case ValidationCode::notXml: return "Temp file is not valid XML";
        case ValidationCode::missingStructure: return "Temp file missing required XMP structure (rdf:Description)";
        case ValidationCode::missingCoordinates: return "Temp file missing expected GPS coordinates";
        case ValidationCode::unparseableCoordinates: return "Temp file contains unparseable GPS coordinates";
        case ValidationCode::invalidHemisphereRefs: return "Temp file contains invalid GPS hemisphere references";
        case ValidationCode::notTheTextToRestore: return "Temp file does not hold the text to restore";
    }
    return "Temp file is not valid";
}

// Either a value or the Error that prevented it. Ask ok() first: value() on an error, or error() on a
// value, is a programming fault (std::bad_variant_access is thrown). Dropping one unasked is a warning.
template <typename T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : state_(std::move(value)) {}
    Expected(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// The outcome of an operation that returns nothing on success; error() is an empty Error while ok().
template <>
class [[nodiscard]] Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }

private:
    Error error_;
    bool failed_ = false;
};

using Status = Expected<void>;

}  // namespace corvane
