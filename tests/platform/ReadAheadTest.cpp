// SPDX-License-Identifier: GPL-3.0-or-later
// Reading ahead: a media file and its sidecar handed over are in the page cache soon after, read by
// the threads of the read-ahead, not by the test. The page cache is watched with mincore.

#include "platform/image/ReadAhead.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace corvane {
namespace {

namespace fs = std::filesystem;

// Whether the file's first page is in the page cache; evict drops its clean pages first.
bool firstPageResident(const fs::path& path, bool evict = false) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (evict) (void)::fdatasync(fd), (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    void* mapped = ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
    unsigned char resident = 0;
    const bool known = mapped != MAP_FAILED && ::mincore(mapped, 1, &resident) == 0;
    if (mapped != MAP_FAILED) ::munmap(mapped, 1);
    ::close(fd);
    return known && (resident & 1);
}

TEST(ReadAhead, AFileHandedOverIsReadWithItsSidecar) {
    const test::TempDir dir;
    const fs::path image = dir.path() / "IMG_0001.HEIC";
    test::writeHeic(image, test::iPhoneImageAt(37.7749, -122.4194));
    const fs::path sidecar = dir.writeFile("IMG_0001.xmp", std::string(20000, ' '));
    if (firstPageResident(image, true) || firstPageResident(sidecar, true))
        GTEST_SKIP() << "this file system keeps the pages (a tmpfs?)";

    ReadAhead readAhead(SidecarName::base, 2);
    readAhead.add(image);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(firstPageResident(image) && firstPageResident(sidecar)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(firstPageResident(image));
    EXPECT_TRUE(firstPageResident(sidecar));
}

}  // namespace
}  // namespace corvane
