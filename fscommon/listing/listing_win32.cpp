#include <windows.h>

#include <string>

#include "listing/listing.h"
#include "listing/listingos.h"

namespace listing {

namespace {

void fillEntry(ListingEntry& entry, const WIN32_FIND_DATAW& data) {
    entry.attributes = data.dwFileAttributes;
    entry.sizeHigh = data.nFileSizeHigh;
    entry.sizeLow = data.nFileSizeLow;
    entry.name.assign(data.cFileName);
    entry.shortName.assign(data.cAlternateFileName);
}

}  // namespace

struct DirectoryListing::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW first;  // FindFirstFileW's entry, handed out by the first next()
    bool firstPending = true;

    ~Impl() {
        if (handle != INVALID_HANDLE_VALUE)
            FindClose(handle);
    }
};

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() = default;
DirectoryListing::DirectoryListing(DirectoryListing&&) noexcept = default;
DirectoryListing& DirectoryListing::operator=(DirectoryListing&&) noexcept = default;

uint32_t DirectoryListing::open(std::wstring_view directory) {
    close();
    std::wstring pattern(directory);
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    auto impl = std::make_unique<Impl>();
    impl->handle = FindFirstFileW(pattern.c_str(), &impl->first);
    if (impl->handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    impl_ = std::move(impl);
    return ERROR_SUCCESS;
}

uint32_t DirectoryListing::openChild(const DirectoryListing&, std::wstring_view,
                                     std::wstring_view path) {
    return open(path);
}

uint32_t DirectoryListing::next(ListingEntry& entry) {
    if (!impl_)
        return ERROR_INVALID_HANDLE;
    if (impl_->firstPending) {
        impl_->firstPending = false;
        fillEntry(entry, impl_->first);
        return ERROR_SUCCESS;
    }
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(impl_->handle, &data))
        return GetLastError();
    fillEntry(entry, data);
    return ERROR_SUCCESS;
}

void DirectoryListing::close() {
    impl_.reset();
}

uint32_t os::lookup(std::wstring_view path, ListingEntry& entry) {
    const std::wstring text(path);
    WIN32_FIND_DATAW data;
    HANDLE handle = FindFirstFileW(text.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    fillEntry(entry, data);
    FindClose(handle);
    return ERROR_SUCCESS;
}

}  // namespace listing
