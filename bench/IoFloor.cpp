// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-bench-floor: the least file work that repairing a corpus can take, as a yardstick for
// corvane-cli. For every media file (heic, heif, dng in any letter case; hidden entries skipped) it reads
// the image's first 64 KiB and the whole sidecar beside it. Then, for the sidecars named in the rewrite
// list (paths relative to DIR, one a line, as the corpus generator writes them: exactly those
// corvane-cli rewrites) or for every sidecar without a list, it writes the sidecar's bytes to a hidden
// temporary file in the same folder, syncs it, renames it over the sidecar and syncs the folder: after
// every rename (--folder-sync each), once per folder after its last rename (once), or never (none).
// With --read-only it stops after the reads (the floor of a dry run).
//
// --parse adds one expat pass over each sidecar read (no handlers: what any strict reader must spend).
// --exact reads of each image only the extents the program needs, with no readahead (as the program
// reads them): of a HEIF the boxes its walker reads, of a TIFF (DNG) the pages its directories and
// their values lie on; with a cold cache, its bytes from the disk are those extents, page-rounded.
//
//   corvane-bench-floor [--read-only] [--parse] [--exact] [--rewrite-list FILE] [--folder-sync each|once|none] DIR...

#include "platform/image/HeifExifLocator.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isMediaFile(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".heic" || extension == ".heif" || extension == ".dng";
}

[[noreturn]] void fail(const char* what, const fs::path& path) {
    std::fprintf(stderr, "corvane-bench-floor: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    std::exit(1);
}

// Reads up to `limit` bytes (all of the file when limit is 0) into `buffer`; false when the file is absent.
bool readFile(const fs::path& path, std::vector<char>& buffer, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        fail("cannot open", path);
    }
    size_t size = limit;
    if (limit == 0) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) fail("cannot stat", path);
        size = static_cast<size_t>(info.st_size);
    }
    buffer.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, buffer.data() + done, size - done);
        if (count < 0) fail("cannot read", path);
        if (count == 0) break;
        done += static_cast<size_t>(count);
    }
    buffer.resize(done);
    ::close(fd);
    return true;
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("cannot open", folder);
    if (::fsync(fd) != 0) fail("cannot sync", folder);
    ::close(fd);
}

void replaceWithCopy(const fs::path& sidecar, const std::vector<char>& bytes) {
    const fs::path temporary = sidecar.parent_path() / ("." + sidecar.filename().string() + ".floor.tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create", temporary);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0) fail("cannot write", temporary);
        done += static_cast<size_t>(count);
    }
    if (::fsync(fd) != 0) fail("cannot sync", temporary);
    ::close(fd);
    if (::rename(temporary.c_str(), sidecar.c_str()) != 0) fail("cannot rename onto", sidecar);
}

// One pass of expat over the bytes, as a strict reader must make; false when they are not well-formed.
bool parseOnce(XML_Parser parser, const std::vector<char>& bytes) {
    XML_ParserReset(parser, nullptr);
    return XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
}

// Reads exactly `out.size()` bytes at `offset`.
bool readExactly(int fd, uint64_t offset, std::span<uint8_t> out) {
    while (!out.empty()) {
        const ssize_t count = ::pread(fd, out.data(), out.size(), static_cast<off_t>(offset));
        if (count <= 0) return false;
        out = out.subspan(static_cast<size_t>(count));
        offset += static_cast<uint64_t>(count);
    }
    return true;
}

// The pages a TIFF's directories (IFD0 and the ones it points to: the chain, SubIFDs, Exif, GPS,
// Interoperability) and their values lie on, read once each; at most 64 directories.
void readTiffDirectories(int fd, uint64_t size) {
    std::array<uint8_t, 8> header{};
    if (size < 8 || !readExactly(fd, 0, header)) return;
    const bool little = header[0] == 'I';
    auto number = [&](const uint8_t* at, int width) {
        uint32_t value = 0;
        for (int i = 0; i < width; ++i) value |= uint32_t{at[little ? i : width - 1 - i]} << (8 * i);
        return value;
    };
    std::vector<uint32_t> pending{number(header.data() + 4, 4)}, seen;
    std::vector<uint8_t> bytes;
    while (!pending.empty() && seen.size() < 64) {
        const uint32_t ifd = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), ifd) != seen.end() || ifd + 2 > size) continue;
        seen.push_back(ifd);
        std::array<uint8_t, 2> countField{};
        if (!readExactly(fd, ifd, countField)) return;
        const uint32_t count = number(countField.data(), 2);
        if (ifd + 2 + 12 * uint64_t{count} + 4 > size) continue;
        bytes.resize(12 * count + 4);
        if (!readExactly(fd, ifd + 2, bytes)) return;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = bytes.data() + 12 * i;
            const uint32_t tag = number(entry, 2), type = number(entry + 2, 2), components = number(entry + 4, 4);
            static constexpr uint64_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
            const uint64_t length = components * (type < 14 ? sizes[type] : 1);
            const uint32_t value = number(entry + 8, 4);
            if (tag == 0x8769 || tag == 0x8825 || tag == 0xa005 || tag == 0x014a) pending.push_back(value);
            if (length > 4 && value + length <= size && length <= (1u << 20)) {
                std::vector<uint8_t> data(length);
                if (!readExactly(fd, value, data)) return;
            }
        }
        if (const uint32_t next = number(bytes.data() + 12 * count, 4)) pending.push_back(next);
    }
}

// Reads of the image what the program needs of it, with no readahead.
void readExtents(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open", path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) fail("cannot stat", path);
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    const auto size = static_cast<uint64_t>(info.st_size);
    const corvane::HeifExif heif = corvane::readHeifExif(
        [fd](uint64_t offset, std::span<uint8_t> out) { return readExactly(fd, offset, out); }, size);
    if (heif.status == corvane::HeifExif::Status::notHeif) readTiffDirectories(fd, size);
    ::close(fd);
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: corvane-bench-floor [--read-only] [--parse] [--exact] [--rewrite-list FILE] [--folder-sync each|once|none] DIR...\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    bool readOnly = false, parse = false, exact = false;
    enum class FolderSync { each, once, none } folderSync = FolderSync::each;
    std::optional<std::unordered_set<std::string>> rewriteList;
    std::vector<fs::path> roots;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-only") readOnly = true;
        else if (arg == "--parse") parse = true;
        else if (arg == "--exact") exact = true;
        else if (arg == "--rewrite-list" && i + 1 < argc) {
            std::ifstream list(argv[++i]);
            if (!list) fail("cannot read", argv[i]);
            rewriteList.emplace();
            for (std::string line; std::getline(list, line);)
                if (!line.empty()) rewriteList->insert(line);
        } else if (arg == "--folder-sync" && i + 1 < argc) {
            const std::string mode = argv[++i];
            if (mode == "each") folderSync = FolderSync::each;
            else if (mode == "once") folderSync = FolderSync::once;
            else if (mode == "none") folderSync = FolderSync::none;
            else usage();
        } else if (arg.starts_with("--")) usage();
        else roots.emplace_back(arg);
    }
    if (roots.empty()) usage();

    long images = 0, sidecars = 0, rewritten = 0, malformed = 0;
    const XML_Parser parser = XML_ParserCreate(nullptr);
    std::vector<char> head, sidecar;
    fs::path unsyncedFolder;  // with --folder-sync once: the folder of the last rename, not yet synced
    for (const fs::path& root : roots) {
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
            const fs::path& path = it->path();
            if (path.filename().string().front() == '.') {
                if (it->is_directory()) it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file() || !isMediaFile(path)) continue;
            if (exact) readExtents(path);
            else readFile(path, head, 64 * 1024);
            ++images;
            fs::path sidecarPath = path;
            sidecarPath.replace_extension(".xmp");
            if (!readFile(sidecarPath, sidecar, 0)) continue;
            ++sidecars;
            if (parse && !parseOnce(parser, sidecar)) ++malformed;
            if (readOnly || (rewriteList && !rewriteList->contains(sidecarPath.lexically_relative(root).string())))
                continue;
            replaceWithCopy(sidecarPath, sidecar);
            ++rewritten;
            const fs::path folder = sidecarPath.parent_path();
            if (folderSync == FolderSync::each) syncFolder(folder);
            if (folderSync == FolderSync::once && folder != unsyncedFolder) {
                if (!unsyncedFolder.empty()) syncFolder(unsyncedFolder);
                unsyncedFolder = folder;
            }
        }
    }
    if (!unsyncedFolder.empty()) syncFolder(unsyncedFolder);
    XML_ParserFree(parser);
    std::printf("corvane-bench-floor: %ld images, %ld sidecars read (%ld not well-formed), %ld rewritten\n", images, sidecars,
                malformed, rewritten);
    return 0;
}
