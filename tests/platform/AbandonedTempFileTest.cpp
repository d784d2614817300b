// A writer killed between creating its unique file and renaming it leaves that file behind. The next
// atomic write to the same destination removes it, but never the unique file of a writer still at work
// (it holds a lock on its file until the rename).

#include "platform/PosixFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace corvane::test {
namespace {

TEST(AbandonedTempFileTest, NextAtomicWriteRemovesAbandonedUniqueFilesOnly) {
    TempDir dir;
    const auto destination = dir.path() / ".IMG_0001.xmp.tmp";
    writeText(dir.path() / "..IMG_0001.xmp.tmp.Ab12Cd", "half a docu");   // its writer was killed
    writeText(dir.path() / "..IMG_0001.xmp.tmp.Xy34Zw", "in progress");   // its writer is still at work
    writeText(dir.path() / "..IMG_0002.xmp.tmp.Ab12Cd", "another file");  // for another destination
    writeText(dir.path() / "..IMG_0001.xmp.tmp.toolong", "not a unique file name");
    const int working = ::open((dir.path() / "..IMG_0001.xmp.tmp.Xy34Zw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(working, 0);
    ASSERT_EQ(::flock(working, LOCK_EX), 0);

    PosixFileSystem fileSystem;
    ASSERT_TRUE(fileSystem.writeTextAtomically(destination, "the new text"));
    ::close(working);

    EXPECT_EQ(readText(destination), "the new text");
    EXPECT_EQ(folderEntries(dir.path()),
              (std::vector<std::string>{"..IMG_0001.xmp.tmp.Xy34Zw", "..IMG_0001.xmp.tmp.toolong",
                                        "..IMG_0002.xmp.tmp.Ab12Cd", ".IMG_0001.xmp.tmp"}));
}

}  // namespace
}  // namespace corvane::test
