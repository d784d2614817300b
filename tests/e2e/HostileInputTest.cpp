// Damaged and hostile input through the built corvane-cli (and, where the machine cannot stage the
// situation, through the engine with the file-system seam): every case ends in one clear outcome, the
// program neither crashes nor hangs, and the sidecar is left exactly as it was.

#include "engine/MediaFileProcessor.h"
#include "engine/SafeSave.h"
#include "engine/SidecarGPS.h"
#include "engine/SidecarWriter.h"
#include "engine/XmpXml.h"
#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "tests/e2e/ChildProcess.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cstring>
#include <functional>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string letterlessSidecar() { return sidecarXml({"37.77490000", "122.41940000", "N", "W"}); }


uint32_t readBigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}
void putBigEndian32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
size_t find(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& needle, size_t from = 0) {
    const auto at = std::search(bytes.begin() + static_cast<long>(from), bytes.end(), needle.begin(), needle.end());
    return at == bytes.end() ? std::string::npos : static_cast<size_t>(at - bytes.begin());
}

// Makes the HEIC's item location table ("iloc", 32-bit offsets and lengths) claim `claimedLength` bytes
// for the Exif block, which is the TIFF structure with libheif's 4-byte offset in front. The block's
// entry holds its file offset either as the item's base offset followed by one extent at offset 0, or
// as the extent's own offset; the extent length follows.
void claimExifLength(const fs::path& heic, uint32_t claimedLength) {
    std::vector<uint8_t> bytes = readBytes(heic);
    const size_t block = find(bytes, {0, 0, 0, 0, 'I', 'I', '*', 0});
    ASSERT_NE(block, std::string::npos) << "no Exif block";
    const size_t iloc = find(bytes, {'i', 'l', 'o', 'c'});
    ASSERT_NE(iloc, std::string::npos);
    const size_t end = iloc - 4 + readBigEndian32(bytes, iloc - 4);
    bool patched = false;
    for (size_t at = iloc + 4; at + 14 <= end && !patched; ++at) {
        if (readBigEndian32(bytes, at) != block) continue;
        const bool baseThenExtent = bytes[at + 4] == 0 && bytes[at + 5] == 1 && readBigEndian32(bytes, at + 6) == 0;
        putBigEndian32(bytes, baseThenExtent ? at + 10 : at + 4, claimedLength);
        patched = true;
    }
    ASSERT_TRUE(patched) << "the Exif block's location entry was not found";
    writeBytes(heic, bytes);
}

uint32_t readLittleEndian32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) | (uint32_t{bytes[at + 3]} << 24);
}
void putLittleEndian32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

enum class IfdLoop { nextIfdIsItself, gpsIfdIsTheFirstIfd };

// Makes the DNG's IFDs loop: IFD0's "next IFD" offset points back at IFD0, or the GPS IFD pointer
// (tag 0x8825) points at IFD0, whose GPS pointer then points at IFD0 again.
void makeIfdsLoop(const fs::path& dng, IfdLoop loop) {
    std::vector<uint8_t> bytes = readBytes(dng);
    ASSERT_TRUE(bytes.size() > 8 && bytes[0] == 'I' && bytes[1] == 'I') << "expected a little-endian TIFF";
    const uint32_t ifd0 = readLittleEndian32(bytes, 4);
    const uint16_t count = static_cast<uint16_t>(bytes[ifd0] | (bytes[ifd0 + 1] << 8));
    if (loop == IfdLoop::nextIfdIsItself) {
        putLittleEndian32(bytes, ifd0 + 2 + 12u * count, ifd0);
    } else {
        bool patched = false;
        for (uint16_t i = 0; i < count; ++i) {
            const size_t entry = ifd0 + 2 + 12u * i;
            if (bytes[entry] == 0x25 && bytes[entry + 1] == 0x88) {
                putLittleEndian32(bytes, entry + 8, ifd0);
                patched = true;
            }
        }
        ASSERT_TRUE(patched) << "no GPS IFD pointer";
    }
    writeBytes(dng, bytes);
}

// What a case leaves in place of the sidecar: its bytes, or what kind of file it is. Only a regular
// file is read (opening a FIFO would wait for a writer, reading /dev/zero would never end).
std::string snapshot(const fs::path& sidecar) {
    std::error_code error;
    const auto status = fs::symlink_status(sidecar, error);
    const auto contents = [&] { return fs::is_regular_file(sidecar, error) ? readText(sidecar) : std::string("(not read)"); };
    if (fs::is_symlink(status)) return "link to " + fs::read_symlink(sidecar).string() + ": " + contents();
    if (fs::is_directory(status)) return "directory";
    if (fs::is_fifo(status)) return "FIFO";
    return contents();
}

struct HostileCase {
    std::string name;
    std::function<void(const fs::path& folder)> make;  // writes IMG_0001.HEIC (or .DNG) and IMG_0001.xmp
    std::string image = "IMG_0001.HEIC";
    std::string outcome;        // the JSON "outcome"
    std::string textContains;   // a part of the row's text that names the cause; "$FOLDER" stands for the folder
};

void heicAndSidecar(const fs::path& folder, const std::string& sidecar) {
    writeHeic(folder / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
    writeText(folder / "IMG_0001.xmp", sidecar);
}

std::string nestedSidecar(int depth) {
    std::string text;
    text.reserve(static_cast<size_t>(depth) * 8 + 512);
    text += "<x:xmpmeta><rdf:RDF><rdf:Description><exif:GPSLatitude>37.7749</exif:GPSLatitude>"
            "<exif:GPSLongitude>122.4194</exif:GPSLongitude>";
    for (int i = 0; i < depth; ++i) text += "<a>";
    for (int i = 0; i < depth; ++i) text += "</a>";
    return text + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

std::string billionLaughs() {
    std::string dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE x:xmpmeta [\n <!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        dtd += " <!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) dtd += "&lol" + (level == 1 ? std::string() : std::to_string(level - 1)) + ";";
        dtd += "\">\n";
    }
    dtd += " <!ENTITY xxe SYSTEM \"file:///etc/passwd\">\n]>\n";
    return dtd + "<x:xmpmeta><rdf:RDF><rdf:Description><exif:GPSLatitude>&lol9;</exif:GPSLatitude>"
                 "<exif:GPSLongitude>&xxe;</exif:GPSLongitude><exif:GPSLatitudeRef>N</exif:GPSLatitudeRef>"
                 "</rdf:Description></rdf:RDF></x:xmpmeta>\n";
}

std::vector<HostileCase> hostileCases() {
    return {
        {"TruncatedHeic",
         [](const fs::path& folder) {
             heicAndSidecar(folder, letterlessSidecar());
             const auto size = fs::file_size(folder / "IMG_0001.HEIC");
             fs::resize_file(folder / "IMG_0001.HEIC", size / 3);
         },
         "IMG_0001.HEIC", "failed", "No GPS available"},
        {"HeicExifBlockClaimsMoreThanTheFile",
         [](const fs::path& folder) {
             heicAndSidecar(folder, letterlessSidecar());
             claimExifLength(folder / "IMG_0001.HEIC", static_cast<uint32_t>(fs::file_size(folder / "IMG_0001.HEIC") + 4096));
         },
         "IMG_0001.HEIC", "failed", "No GPS available"},
        {"HeicExifBlockClaimsFourGigabytes",
         [](const fs::path& folder) {
             heicAndSidecar(folder, letterlessSidecar());
             claimExifLength(folder / "IMG_0001.HEIC", 0xFFFFFFF0u);
         },
         "IMG_0001.HEIC", "failed", "No GPS available"},
        {"DngWhoseNextIfdIsItself",
         [](const fs::path& folder) {
             writeDng(folder / "IMG_0001.DNG", iPhoneImageAt(37.7749, -122.4194));
             makeIfdsLoop(folder / "IMG_0001.DNG", IfdLoop::nextIfdIsItself);
             writeText(folder / "IMG_0001.xmp", sidecarXml({"37.77490000N", "122.41940000W", "N", "W"}));
         },
         "IMG_0001.DNG", "alreadyCorrect", "Already correct"},
        {"DngWhoseGpsIfdLoopsBackToTheFirst",
         [](const fs::path& folder) {
             writeDng(folder / "IMG_0001.DNG", iPhoneImageAt(37.7749, -122.4194));
             makeIfdsLoop(folder / "IMG_0001.DNG", IfdLoop::gpsIfdIsTheFirstIfd);
             writeText(folder / "IMG_0001.xmp", letterlessSidecar());
         },
         "IMG_0001.DNG", "failed", "No GPS available"},
        {"SidecarOf100000NestedElements",
         [](const fs::path& folder) { heicAndSidecar(folder, nestedSidecar(100000)); },
         "IMG_0001.HEIC", "failed", "nested deeper than"},
        {"LatitudeTextOfOneMegabyte",
         [](const fs::path& folder) {
             heicAndSidecar(folder, sidecarXml({std::string(1 << 20, '7'), "122.41940000", "N", "W"}));
         },
         "IMG_0001.HEIC", "skippedDifferentGPS", "Skipped (GPS differs)"},
        {"EntityDeclarationsAreNotExpanded",
         [](const fs::path& folder) { heicAndSidecar(folder, billionLaughs()); },
         "IMG_0001.HEIC", "failed", "XML parse error: document type declares an entity"},
        {"SidecarThatIsADirectory",
         [](const fs::path& folder) {
             writeHeic(folder / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
             fs::create_directory(folder / "IMG_0001.xmp");
             writeText(folder / "IMG_0001.xmp" / "inside.txt", "kept");
         },
         "IMG_0001.HEIC", "failed", "$FOLDER/IMG_0001.xmp is not a regular file (a directory)"},
        // Opened without blocking and judged by its descriptor: a FIFO is never waited on and /dev/zero
        // is never read.
        {"SidecarIsAFifo",
         [](const fs::path& folder) {
             writeHeic(folder / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
             ASSERT_EQ(::mkfifo((folder / "IMG_0001.xmp").c_str(), 0644), 0);
         },
         "IMG_0001.HEIC", "failed", "$FOLDER/IMG_0001.xmp is not a regular file (a FIFO)"},
        {"SidecarLinkedToDevZero",
         [](const fs::path& folder) {
             writeHeic(folder / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
             fs::create_symlink("/dev/zero", folder / "IMG_0001.xmp");
         },
         "IMG_0001.HEIC", "failed", "$FOLDER/IMG_0001.xmp is not a regular file (a character device)"},
        {"SidecarLargerThan64MiB",
         [](const fs::path& folder) {
             heicAndSidecar(folder, letterlessSidecar());
             // Sparse beyond the XML: the size alone must refuse it, before any byte is read.
             fs::resize_file(folder / "IMG_0001.xmp", 64ull * 1048576 + 1);
         },
         "IMG_0001.HEIC", "failed", "XMP sidecar too large (67108865 bytes)"},
        {"SidecarIsASymbolicLink",
         [](const fs::path& folder) {
             writeHeic(folder / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
             fs::create_directories(folder / "elsewhere");
             writeText(folder / "elsewhere" / "real.xmp", letterlessSidecar());
             fs::create_symlink("elsewhere/real.xmp", folder / "IMG_0001.xmp");
         },
         "IMG_0001.HEIC", "failed", "symbolic link"},
    };
}

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

class HostileInputTest : public ::testing::TestWithParam<HostileCase> {
protected:
    TempDir dir_;
};

TEST_P(HostileInputTest, EndsInOneClearOutcomeAndLeavesTheSidecarAlone) {
    const HostileCase& hostile = GetParam();
    const fs::path folder = dir_.path() / "library";
    fs::create_directories(folder);
    ASSERT_NO_FATAL_FAILURE(hostile.make(folder));
    const std::string before = snapshot(folder / "IMG_0001.xmp");
    const auto entriesBefore = folderEntries(folder);

    // Given relative to the working folder: the row keeps that path, messages name the full one.
    const fs::path given = (folder / hostile.image).lexically_relative(fs::current_path());
    const ProcessResult run = runCli({"--write", "--json", "--quiet", given.string()}, dir_.path(), std::chrono::seconds(60));
    ASSERT_FALSE(run.timedOut) << "hung";
    ASSERT_EQ(run.signal, 0) << "crashed:\n" << run.err.substr(0, 4000);
    EXPECT_EQ(run.exitCode, hostile.outcome == "failed" ? 1 : 0) << run.err.substr(0, 4000);

    const json row = json::parse(run.out.substr(0, run.out.find('\n')));
    EXPECT_EQ(row["outcome"], hostile.outcome) << row.dump().substr(0, 2000);
    EXPECT_EQ(row["file"], given.string());
    if (hostile.textContains.starts_with("$FOLDER")) {
        // The whole error, so that it is seen to name the full path although a relative one was given.
        EXPECT_EQ(row["error"], folder.string() + hostile.textContains.substr(7)) << row.dump().substr(0, 2000);
    } else {
        EXPECT_NE(row["text"].get<std::string>().find(hostile.textContains), std::string::npos) << row.dump().substr(0, 2000);
    }
    EXPECT_EQ(snapshot(folder / "IMG_0001.xmp"), before);
    EXPECT_EQ(folderEntries(folder), entriesBefore);
    EXPECT_EQ(run.out.find("root:"), std::string::npos) << "an external entity was read";
}

INSTANTIATE_TEST_SUITE_P(Cli, HostileInputTest, ::testing::ValuesIn(hostileCases()),
                         [](const auto& info) { return info.param.name; });

// Reading through a link is fine: a sidecar whose link points at an already correct document is
// compared through the link and left alone, the link included.
TEST(HostileInputCli, SymbolicLinkedSidecarIsReadThroughTheLink) {
    TempDir dir;
    writeHeic(dir.path() / "IMG_0001.HEIC", iPhoneImageAt(37.7749, -122.4194));
    writeText(dir.path() / "real.xmp", sidecarXml({"37.77490000N", "122.41940000W", "N", "W"}));
    fs::create_symlink("real.xmp", dir.path() / "IMG_0001.xmp");
    const ProcessResult run = runCli({"--write", "--json", "--quiet", (dir.path() / "IMG_0001.HEIC").string()}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(json::parse(run.out)["outcome"], "alreadyCorrect");
    EXPECT_TRUE(fs::is_symlink(dir.path() / "IMG_0001.xmp"));
}

// A file name that is not valid UTF-8 is processed like any other; the report keeps its bytes, and the
// JSON line stays valid JSON (the bytes that are not UTF-8 become U+FFFD there).
TEST(HostileInputCli, FileNameWithInvalidUtf8) {
    TempDir dir;
    const std::string stem = "IMG_\xff\xfe_\xc3";
    writeHeic(dir.path() / (stem + ".HEIC"), iPhoneImageAt(37.7749, -122.4194));
    writeText(dir.path() / (stem + ".xmp"), letterlessSidecar());

    const ProcessResult dry = runCli({"--quiet", dir.path().string()}, dir.path());
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(dry.out.find(stem + ".HEIC: [Dry Run] Would Update:"), std::string::npos) << dry.out;

    const ProcessResult written = runCli({"--write", "--json", "--quiet", dir.path().string()}, dir.path());
    EXPECT_EQ(written.exitCode, 0) << written.err;
    const json row = json::parse(written.out);
    EXPECT_EQ(row["outcome"], "updated");
    EXPECT_NE(row["file"].get<std::string>().find("IMG_\xEF\xBF\xBD"), std::string::npos) << row.dump();
    EXPECT_NE(readText(dir.path() / (stem + ".xmp")).find("37.77490000N"), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{stem + ".HEIC", stem + ".xmp"}));
}

// Runs a shell script in a private mount namespace (mounts vanish with it); false when this machine
// does not allow that (no root, no unshare).
bool canUsePrivateMounts() {
    static const bool usable = [] {
        TempDir dir;
        const ProcessResult probe =
            runProgram({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                        "mount -t tmpfs -o size=1m tmpfs \"$0\"", dir.path().string()},
                       dir.path(), std::chrono::seconds(20));
        return probe.exitCode == 0;
    }();
    return usable;
}

ProcessResult runInPrivateMounts(const std::string& script, const std::vector<std::string>& arguments, const fs::path& home) {
    std::vector<std::string> all{"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram(all, home, std::chrono::seconds(90));
}

// A sidecar in a folder on a read-only mount: a dry run reads it as usual; a writing run cannot write
// the folder, nobody can be asked for another (the command line declines), and the file fails without
// a write being tried.
TEST(HostileInputCli, SidecarInReadOnlyFolder) {
    if (!canUsePrivateMounts()) GTEST_SKIP() << "no private mounts here; SidecarInReadOnlyFolderAtEngineLevel covers it";
    TempDir dir;
    const fs::path folder = dir.path() / "library";
    fs::create_directories(folder);
    heicAndSidecar(folder, letterlessSidecar());
    // A dry run first: it only reads, so the read-only folder is no obstacle.
    const ProcessResult run = runInPrivateMounts(
        "mount --bind \"$1\" \"$1\" && mount -o remount,ro,bind \"$1\" && \"$2\" --json --quiet \"$1\" && "
        "exec \"$2\" --write --json --quiet \"$1\"",
        {folder.string(), cliPath()}, dir.path());
    ASSERT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const size_t lineEnd = run.out.find('\n');
    ASSERT_NE(lineEnd, std::string::npos) << run.out << run.err;
    const json dryRow = json::parse(run.out.substr(0, lineEnd));
    EXPECT_EQ(dryRow["outcome"], "updated") << dryRow.dump();
    EXPECT_EQ(dryRow["text"].get<std::string>().rfind("[Dry Run] Would Update", 0), 0u) << dryRow.dump();
    const json row = json::parse(run.out.substr(lineEnd + 1));
    EXPECT_EQ(row["outcome"], "failed");
    EXPECT_EQ(row["error"], "Permission denied for XMP sidecar");
    EXPECT_EQ(readText(folder / "IMG_0001.xmp"), letterlessSidecar());
    EXPECT_EQ(folderEntries(folder), (std::vector<std::string>{"IMG_0001.HEIC", "IMG_0001.xmp"}));
}

// A sidecar on a volume with less than 100 MiB free (a 50 MiB tmpfs): the save refuses before writing.
TEST(HostileInputCli, VolumeBelow100MiBFree) {
    if (!canUsePrivateMounts()) GTEST_SKIP() << "no private mounts here; VolumeBelow100MiBFreeAtEngineLevel covers it";
    TempDir dir;
    const fs::path staged = dir.path() / "staged";
    const fs::path volume = dir.path() / "volume";
    fs::create_directories(staged);
    fs::create_directories(volume);
    heicAndSidecar(staged, letterlessSidecar());
    // The files are copied onto the small volume, processed there, and the outcome copied back out.
    const ProcessResult run = runInPrivateMounts(
        "mount -t tmpfs -o size=50m tmpfs \"$1\" && cp \"$2\"/* \"$1\"/ && \"$3\" --write --json --quiet \"$1\"; "
        "status=$?; cp \"$1\"/IMG_0001.xmp \"$2\"/after.xmp; ls -A \"$1\" > \"$2\"/entries.txt; exit $status",
        {volume.string(), staged.string(), cliPath()}, dir.path());
    ASSERT_EQ(run.signal, 0) << run.err;
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const json row = json::parse(run.out);
    EXPECT_EQ(row["outcome"], "failed");
    EXPECT_EQ(row["error"], "Insufficient disk space. Available: 49MB, Required: 100MB");
    EXPECT_EQ(readText(staged / "after.xmp"), letterlessSidecar());
    EXPECT_EQ(readText(staged / "entries.txt"), "IMG_0001.HEIC\nIMG_0001.xmp\n");
}

// The same two situations at engine level, where the file-system seam stands in for the volume.
class HostileInputEngine : public ::testing::Test {
protected:
    ProcessingResult process(const fs::path& media) {
        FolderAccess access(fileSystem_, grants_, prompt_);
        RunSettings settings;
        settings.dryRun = false;
        const EngineServices services{fileSystem_, reader_, access, settings};
        return MediaFileProcessor(services).processFile(media);
    }

    struct NoGrants : GrantStore {
        std::optional<std::string> dataForKey(std::string_view) const override { return std::nullopt; }
        bool setData(std::string_view, std::string_view) override { return false; }
    };

    TempDir dir_;
    FaultyFileSystem fileSystem_;
    ImageMetadataReader reader_;
    NoGrants grants_;
    DecliningFolderPrompt prompt_;
};

TEST_F(HostileInputEngine, SidecarInReadOnlyFolderAtEngineLevel) {
    heicAndSidecar(dir_.path(), letterlessSidecar());
    fileSystem_.denyAccessBelow(dir_.path());
    const ProcessingResult result = process(dir_.path() / "IMG_0001.HEIC");
    EXPECT_EQ(result, ProcessingResult(outcome::Failed{"Permission denied for XMP sidecar"}));
    EXPECT_EQ(readText(dir_.path() / "IMG_0001.xmp"), letterlessSidecar());
}

TEST_F(HostileInputEngine, VolumeBelow100MiBFreeAtEngineLevel) {
    heicAndSidecar(dir_.path(), letterlessSidecar());
    fileSystem_.reportCapacity(requiredFreeSpace - 1);
    const ProcessingResult result = process(dir_.path() / "IMG_0001.HEIC");
    EXPECT_EQ(result, ProcessingResult(outcome::Failed{"Insufficient disk space. Available: 99MB, Required: 100MB"}));
    EXPECT_EQ(readText(dir_.path() / "IMG_0001.xmp"), letterlessSidecar());
    EXPECT_EQ(folderEntries(dir_.path()), (std::vector<std::string>{"IMG_0001.HEIC", "IMG_0001.xmp"}));
}

// The size limit holds on the read-back of the temporary file too: a temporary file above it is refused
// by the size alone, not read into memory.
TEST_F(HostileInputEngine, TemporaryFileLargerThan64MiBIsNotRead) {
    const fs::path temp = dir_.writeFile(".IMG_0001.xmp.tmp", letterlessSidecar());
    fs::resize_file(temp, static_cast<uintmax_t>(maximumSidecarSize) + 1);
    const Status status = validateTempFile(fileSystem_, temp, 1000);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().domain, "Validation");
    EXPECT_EQ(status.error().code, 4);
    EXPECT_EQ(status.error().message, "Temp file is not valid XML: XMP sidecar too large (67108865 bytes)");
}

// A sidecar well under the size limit whose indented text would exceed it (many elements 250 levels
// deep, each line indented by 500 blanks): the save refuses the text before writing anything.
TEST_F(HostileInputEngine, RewriteWhoseIndentedTextExceedsTheLimitIsRefusedBeforeWriting) {
    std::string sidecar = "<x:xmpmeta><rdf:RDF><rdf:Description><exif:GPSLatitude>37.7749</exif:GPSLatitude>"
                          "<exif:GPSLongitude>122.4194</exif:GPSLongitude>";
    for (int i = 0; i < 248; ++i) sidecar += "<a>";
    for (int i = 0; i < 140000; ++i) sidecar += "<b/>";
    for (int i = 0; i < 248; ++i) sidecar += "</a>";
    sidecar += "</rdf:Description></rdf:RDF></x:xmpmeta>";
    ASSERT_LT(sidecar.size(), 1u << 20);
    const fs::path path = dir_.writeFile("IMG_0001.xmp", sidecar);

    RunSettings settings;
    settings.dryRun = false;
    const auto answer = updateXmpGPS(fileSystem_, settings, path, 37.7749, -122.4194);
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().domain, "XMP");
    EXPECT_TRUE(answer.error().message.starts_with("XMP sidecar too large (")) << answer.error().message;
    EXPECT_EQ(readText(path), sidecar);
    EXPECT_EQ(folderEntries(dir_.path()), std::vector<std::string>{"IMG_0001.xmp"});
}

}  // namespace
}  // namespace corvane::test
