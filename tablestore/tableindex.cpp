#include "tableindex.h"

#include <vector>

#include "fileio.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

constexpr uint32_t kSlotSize = 8;

}  // namespace

TableIndex::TableIndex(const wchar_t* indexName, const wchar_t* directory,
                       const wchar_t* fieldName) {
    if (indexName == nullptr || directory == nullptr || fieldName == nullptr)
        return;
    indexName_ = indexName;
    fieldName_ = fieldName;
    path_ = PathHelper::withTrailingSeparator(directory) + indexName_ + L".idx";
}

bool TableIndex::create() {
    if (path_.empty() || file_)
        return false;
    auto file = createFile(path_.c_str());
    if (!file->create())
        return false;
    const std::vector<uint8_t> buckets(INDEX_BUCKETS * kSlotSize, 0xFF);
    if (!fileio::writeExact(*file, buckets.data(), static_cast<uint32_t>(buckets.size())))
        return false;
    file_ = std::move(file);
    return true;
}

bool TableIndex::open(bool readOnly) {
    if (path_.empty() || file_)
        return false;
    auto file = createFile(path_.c_str());
    if (!(readOnly ? file->openReadOnly() : file->open()))
        return false;
    const uint32_t size = fileio::contentSize(*file);
    if (size < INDEX_BUCKETS * kSlotSize || size % kSlotSize != 0)
        return false;
    file_ = std::move(file);
    return true;
}

bool TableIndex::close() {
    if (!file_)
        return false;
    file_->close();
    file_.reset();
    return true;
}

bool TableIndex::removeFile() {
    if (path_.empty() || file_)
        return false;
    return ::removeFile(path_.c_str()) == 0;
}

bool TableIndex::readSlot(uint32_t slot, uint32_t& number, uint32_t& next) {
    uint8_t bytes[kSlotSize];
    if (!file_ || !fileio::seekTo(*file_, static_cast<uint64_t>(slot) * kSlotSize) ||
        !fileio::readExact(*file_, bytes, kSlotSize)) {
        return false;
    }
    number = fileio::getU32(bytes);
    next = fileio::getU32(bytes + 4);
    return true;
}

bool TableIndex::readChainSlot(uint32_t slot, uint32_t& number, uint32_t& next) {
    if (!readSlot(slot, number, next))
        return false;
    return next == kNoSlot || (next >= INDEX_BUCKETS && (slot < INDEX_BUCKETS || next < slot));
}

bool TableIndex::insert(uint32_t bucket, uint32_t recordNumber) {
    uint32_t number = 0;
    uint32_t next = 0;
    if (bucket >= INDEX_BUCKETS || !readSlot(bucket, number, next))
        return false;
    if (number != kNoSlot) {
        // Move the present head into a new overflow slot and link the bucket to it.
        const uint32_t end = fileio::contentSize(*file_);
        if (!writeSlot(number, next))
            return false;
        next = end / kSlotSize;
    } else {
        // An empty bucket starts a chain of one, whatever link a damaged file left in it.
        next = kNoSlot;
    }
    return fileio::seekTo(*file_, static_cast<uint64_t>(bucket) * kSlotSize) &&
           writeSlot(recordNumber, next);
}

bool TableIndex::lists(uint32_t bucket, uint32_t recordNumber) {
    if (bucket >= INDEX_BUCKETS)
        return false;
    uint32_t number = 0;
    uint32_t next = 0;
    // Links only lead to older slots (readChainSlot checks it), so the walk ends.
    for (uint32_t slot = bucket; readChainSlot(slot, number, next); slot = next) {
        if (number == recordNumber)
            return true;
        if (next == kNoSlot)
            return false;
    }
    return false;
}

bool TableIndex::writeSlot(uint32_t number, uint32_t next) {
    uint8_t bytes[kSlotSize];
    fileio::storeU32(bytes, number);
    fileio::storeU32(bytes + 4, next);
    return fileio::writeExact(*file_, bytes, kSlotSize);
}
