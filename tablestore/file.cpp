#include "file.h"

#include <algorithm>
#include <cstring>

namespace {

// A file grows by the next multiple of 32 KiB strictly above the length written.
constexpr unsigned kGrowthShift = 15;

}  // namespace

std::unique_ptr<File> createFile(const wchar_t* path) {
    if (path == nullptr)
        return nullptr;
    return std::make_unique<Win32File>(path);
}

Win32File::Win32File(const wchar_t* path) {
    if (path != nullptr)
        path_.emplace(path);
}

Win32File::~Win32File() {
    close();
}

bool Win32File::create() {
    if (!path_ || handle_ != kNoHandle)
        return false;
    if (!osOpen(OpenMode::Create))
        return false;
    readOnly_ = false;
    size_ = capacity_ = position_ = 0;
    eof_ = false;
    return true;
}

bool Win32File::open() {
    return openExisting(OpenMode::ReadWrite);
}

bool Win32File::openReadOnly() {
    return openExisting(OpenMode::ReadOnly);
}

bool Win32File::openExisting(OpenMode mode) {
    if (!path_ || handle_ != kNoHandle)
        return false;
    readOnly_ = mode == OpenMode::ReadOnly;
    if (!osOpen(mode))
        return false;
    uint32_t size = 0;
    if (!getSize(size)) {
        osClose();
        handle_ = kNoHandle;
        return false;
    }
    size_ = capacity_ = size;
    position_ = 0;
    eof_ = false;
    if (size == 0)
        return true;
    if (osMap(size))
        return true;
    // Without its mapping the object could not reach the contents: give the file up again.
    osClose();
    handle_ = kNoHandle;
    size_ = capacity_ = 0;
    return false;
}

bool Win32File::close() {
    if (handle_ == kNoHandle)
        return false;
    if (view_ != nullptr)
        osUnmap(capacity_);
    // Drop the spare room behind the contents; a reader leaves the file as it found it.
    if (!readOnly_)
        osSetEnd(size_);
    const bool closed = osClose();
    // The handle is gone either way; never close it twice.
    handle_ = kNoHandle;
    mapping_ = 0;
    view_ = nullptr;
    size_ = capacity_ = position_ = 0;
    eof_ = false;
    return closed;
}

const uint8_t* Win32File::peek(uint32_t& available) const {
    available = 0;
    if (view_ == nullptr || position_ > size_)
        return nullptr;
    available = size_ - position_;
    return view_ + position_;
}

uint32_t Win32File::read(void* buffer, uint32_t length) {
    uint32_t count = length;
    if (static_cast<uint64_t>(position_) + length > size_) {
        count = size_ - position_;
        eof_ = true;
    } else {
        eof_ = false;
    }
    if (count > 0) {
        if (view_ == nullptr) {
            // The mapping was lost when a growth failed: nothing can be read.
            eof_ = true;
            return 0;
        }
        std::memcpy(buffer, view_ + position_, count);
    }
    position_ += count;
    return count;
}

uint32_t Win32File::write(const void* buffer, uint32_t length) {
    if (handle_ == kNoHandle || readOnly_ || length == 0)
        return 0;
    const uint64_t end = static_cast<uint64_t>(position_) + length;
    if (end > kMaxFileSize)
        return 0;
    if ((end > capacity_ || view_ == nullptr) && !grow(length))
        return 0;
    std::memcpy(view_ + position_, buffer, length);
    position_ = static_cast<uint32_t>(end);
    size_ = std::max(size_, position_);
    return length;
}

bool Win32File::grow(uint32_t length) {
    const uint64_t step = ((static_cast<uint64_t>(length) >> kGrowthShift) + 1) << kGrowthShift;
    const auto target = static_cast<uint32_t>(std::min<uint64_t>(capacity_ + step, kMaxFileSize));
    // Keeping the mapping spares the page faults of a new one.
    if (view_ != nullptr && osExtendMapped(capacity_, target)) {
        capacity_ = target;
        return true;
    }
    if (view_ != nullptr && !osUnmap(capacity_))
        return false;
    if (osSetEnd(target) && osMap(target)) {
        capacity_ = target;
        return true;
    }
    // Put the previous mapping back so that the contents stay readable.
    if (capacity_ > 0 && osSetEnd(capacity_))
        osMap(capacity_);
    return false;
}

bool Win32File::seek(int32_t offset, int32_t origin) {
    int64_t target;
    switch (origin) {
        case FILE_SEEK_BEGIN:
            target = offset;
            break;
        case FILE_SEEK_CURRENT:
            target = static_cast<int64_t>(position_) + offset;
            break;
        case FILE_SEEK_END:
            target = static_cast<int64_t>(size_) + offset;
            break;
        default:
            return false;
    }
    if (target < 0 || target > size_)
        return false;
    position_ = static_cast<uint32_t>(target);
    return true;
}

bool Win32File::getSize(uint32_t& size) {
    if (handle_ == kNoHandle)
        return false;
    return osQuerySize(size);
}
