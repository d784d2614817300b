// A writer killed between creating its unique file and renaming it leaves that file behind. An atomic
// write into the folder removes every such abandoned file, but never the unique file of a writer still
// at work (it holds a lock on its file until the rename) and never a file of another form. During a
// run the folder is cleaned once, before its first write, not listed again for every file.

#include "engine/RunScope.h"
#include "platform/PosixFileSystem.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace corvane::test {
namespace {

TEST(AbandonedTempFileTest, TheFirstAtomicWriteOfARunRemovesAbandonedUniqueFilesOnly) {
    const TempDir dir;
    const auto destination = dir.path() / ".IMG_0001.xmp.tmp";
    const auto abandoned = dir.path() / "..IMG_0001.xmp.tmp.Ab12Cd";
    writeText(abandoned, "half a docu");                                  // its writer was killed
    writeText(dir.path() / "..IMG_0001.xmp.tmp.Xy34Zw", "in progress");   // its writer is still at work
    writeText(dir.path() / "..IMG_0002.xmp.tmp.Ab12Cd", "another file");  // killed, for another destination
    writeText(dir.path() / "..IMG_0001.xmp.tmp.toolong", "not a unique file name");
    writeText(dir.path() / ".bashrc.backup", "a user's hidden file");     // "." + name + "." + six characters
    const int working = ::open((dir.path() / "..IMG_0001.xmp.tmp.Xy34Zw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(working, 0);
    ASSERT_EQ(::flock(working, LOCK_EX), 0);

    PosixFileSystem fileSystem;
    RunScope::begin();
    ASSERT_TRUE(fileSystem.writeTextAtomically(destination, "the new text"));
    ::close(working);
    EXPECT_EQ(readText(destination), "the new text");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"..IMG_0001.xmp.tmp.Xy34Zw", "..IMG_0001.xmp.tmp.toolong",
                                                                   ".IMG_0001.xmp.tmp", ".bashrc.backup"}));
    writeText(abandoned, "left by a killed writer");
    ASSERT_TRUE(fileSystem.writeTextAtomically(dir.path() / ".IMG_0002.xmp.tmp", "second"));
    EXPECT_TRUE(std::filesystem::exists(abandoned)) << "the folder is not listed again in the same run";
    RunScope::end();

    RunScope::begin();
    ASSERT_TRUE(fileSystem.writeTextAtomically(destination, "next run"));
    EXPECT_FALSE(std::filesystem::exists(abandoned)) << "the next run cleans the folder again";
    RunScope::end();
}

}  // namespace
}  // namespace corvane::test
