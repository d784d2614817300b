// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/image/ExivImage.h"

#include "platform/image/ExifProperties.h"

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace corvane {
namespace {

// Exiv2's input interface over an opened ImageFile: reads by position within the file's size, never
// writes. Exiv2's parsers read a few bytes at a time (a marker, a length); those come from one page of
// the file kept in memory, larger reads go straight to the file. Exiv2 calls it from one thread.
class ImageFileIo : public Exiv2::BasicIo {
public:
    ImageFileIo(ImageFile& file, std::string path) : file_(file), path_(std::move(path)) {}
    ~ImageFileIo() override { ImageFileIo::munmap(); }

    int open() override {
        position_ = 0;
        eof_ = false;
        return file_.isReadable() ? 0 : 1;
    }
    int close() override { return munmap(); }

    long write(const Exiv2::byte*, long) override { return 0; }
    long write(Exiv2::BasicIo&) override { return 0; }
    int putb(Exiv2::byte) override { return EOF; }
    void transfer(Exiv2::BasicIo&) override { throw Exiv2::Error(Exiv2::kerImageWriteFailed); }

    Exiv2::DataBuf read(long count) override {
        Exiv2::DataBuf buffer(static_cast<long>(std::clamp<int64_t>(count, 0, remaining())));
        buffer.size_ = read(buffer.pData_, buffer.size_);
        return buffer;
    }
    long read(Exiv2::byte* out, long count) override {
        if (count <= 0) return 0;
        const int64_t available = std::min<int64_t>(count, remaining());
        if (available < count) eof_ = true;
        if (available == 0 || !readAt(static_cast<uint64_t>(position_), std::span(out, static_cast<size_t>(available))))
            return 0;
        position_ += available;
        return static_cast<long>(available);
    }
    int getb() override {
        Exiv2::byte byte = 0;
        return read(&byte, 1) == 1 ? byte : EOF;
    }

    int seek(long offset, Position from) override {
        int64_t target = offset;
        if (from == cur) target += position_;
        if (from == end) target += static_cast<int64_t>(file_.size());
        if (target < 0) return 1;
        if (target > static_cast<int64_t>(file_.size())) {
            eof_ = true;
            return 1;
        }
        position_ = target;
        eof_ = false;
        return 0;
    }

    Exiv2::byte* mmap(bool writeable) override {
        if (writeable || file_.size() == 0) throw Exiv2::Error(Exiv2::kerCallFailed, path_, "mmap", "");
        if (!mapping_) {
            void* mapped = ::mmap(nullptr, file_.size(), PROT_READ, MAP_PRIVATE, file_.descriptor(), 0);
            if (mapped == MAP_FAILED) throw Exiv2::Error(Exiv2::kerCallFailed, path_, "mmap", "");
            // Only the pages the directories lie on are wanted: a fault reads its own page and not the
            // megabytes of raw data around it. Only a hint.
            (void)::madvise(mapped, file_.size(), MADV_RANDOM);
            mapping_ = static_cast<Exiv2::byte*>(mapped);
        }
        return mapping_;
    }
    int munmap() override {
        if (mapping_) ::munmap(mapping_, file_.size());
        mapping_ = nullptr;
        return 0;
    }

    long tell() const override { return static_cast<long>(position_); }
    size_t size() const override { return static_cast<size_t>(file_.size()); }
    bool isopen() const override { return file_.isReadable(); }
    int error() const override { return 0; }
    bool eof() const override { return eof_; }
    std::string path() const override { return path_; }

private:
    static constexpr uint64_t pageSize = 4096;

    int64_t remaining() const { return static_cast<int64_t>(file_.size()) - position_; }

    // Reads within one page come from the page held; others fill it, or go to the file when larger.
    bool readAt(uint64_t offset, std::span<uint8_t> out) {
        if (offset < pageStart_ || offset + out.size() > pageStart_ + pageFilled_) {
            if (out.size() >= pageSize) return file_.readAt(offset, out);
            if (!page_) page_ = std::make_unique_for_overwrite<uint8_t[]>(pageSize);
            pageStart_ = offset;
            pageFilled_ = std::min(pageSize, file_.size() - offset);
            if (!file_.readAt(offset, std::span(page_.get(), pageFilled_))) {
                pageFilled_ = 0;
                return false;
            }
        }
        std::memcpy(out.data(), page_.get() + (offset - pageStart_), out.size());
        return true;
    }

    ImageFile& file_;
    std::string path_;
    int64_t position_ = 0;
    bool eof_ = false;
    Exiv2::byte* mapping_ = nullptr;
    std::unique_ptr<uint8_t[]> page_;
    uint64_t pageStart_ = 0;
    uint64_t pageFilled_ = 0;
};

// Still-image formats only. Exiv2's factory also knows video containers (QuickTime, AVI, Matroska,
// ASF), whose readers can spin for seconds on a damaged file, its own BMFF reader (which misreads some
// HEIC files; HEIF is read by this program's own walker), and files that hold only metadata (XMP,
// EXV, EPS): none of them is a photo this program reads.
bool isStillImage(int type) {
    namespace T = Exiv2::ImageType;
    for (int known : {T::jpeg, T::tiff, T::png, T::webp, T::crw, T::cr2, T::mrw, T::raf, T::orf, T::rw2, T::gif, T::psd,
                      T::bmp, T::jp2, T::pgf})
        if (type == known) return true;
    return false;
}

}  // namespace

ExivImageReading readWithExiv2(ImageFile& file, const std::filesystem::path& path) {
    prepareExiv2();
    ExivImageReading reading;
    Exiv2::Image::AutoPtr image;
    try {
        image = Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(new ImageFileIo(file, path.string())));
    } catch (...) {
        return reading;
    }
    if (image.get() == nullptr || !isStillImage(image->imageType())) return reading;
    reading.recognised = true;
    try {
        image->readMetadata();
        reading.properties = propertiesFromExif(image->exifData());
    } catch (...) {
        reading.properties.reset();
    }
    return reading;
}

}  // namespace corvane
