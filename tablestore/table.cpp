#include "table.h"

#include <cwchar>

#include "fileio.h"
#include "indexcatalogue.h"
#include "recordcursor.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

// Header: live record count, removed record count, field count.
constexpr uint32_t kLiveCountOffset = 0;
constexpr uint32_t kRemovedCountOffset = 4;
constexpr uint32_t kHeaderSize = 12;
// Type code and name length of a field descriptor.
constexpr uint32_t kDescriptorSize = 8;
constexpr uint32_t kPointerSize = 4;

}  // namespace

Table::Table(const wchar_t* name, const wchar_t* directory, bool compact) : codec_(compact) {
    if (name == nullptr || directory == nullptr)
        return;
    std::optional<std::wstring> absolute = PathHelper::realPath(directory);
    if (!absolute)
        return;
    mutex_ = createMutex((std::wstring(name) + L"_t_mutex").c_str());
    if (!mutex_)
        return;
    name_ = name;
    directory_ = PathHelper::withTrailingSeparator(std::move(*absolute));
    dataPath_ = directory_ + name_ + L".dat";
    pointerPath_ = directory_ + name_ + L".pxx";
}

Table::~Table() {
    close();
}

std::wstring Table::cataloguePath() const {
    return directory_ + name_ + L"_idx.dat";
}

bool Table::addField(const wchar_t* name, int32_t type) {
    if (isOpen())
        return false;
    return schema_.addField(name, type);
}

bool Table::create() {
    if (directory_.empty() || isOpen() || schema_.fieldCount() > kMaxRecordFields)
        return false;
    data_ = createFile(dataPath_.c_str());
    pointers_ = createFile(pointerPath_.c_str());
    if (!data_->create() || !pointers_->create() || !writeHeader()) {
        // The declared schema stays for another attempt.
        releaseFiles();
        return false;
    }
    codec_.setFieldCount(schema_.fieldCount());
    stored_.resetFrom(schema_);
    removeFile(cataloguePath().c_str());
    return true;
}

bool Table::writeHeader() {
    std::vector<uint8_t> header;
    fileio::putU32(header, 0);
    fileio::putU32(header, 0);
    fileio::putU32(header, static_cast<uint32_t>(schema_.fieldCount()));
    for (size_t i = 0; i < schema_.fieldCount(); ++i) {
        const Field& field = *schema_.fieldAt(i);
        fileio::putU32(header, static_cast<uint32_t>(field.type()));
        fileio::putName(header, field.name());
    }
    recordsStart_ = static_cast<uint32_t>(header.size());
    return fileio::writeExact(*data_, header.data(), recordsStart_);
}

bool Table::open(bool readOnly) {
    if (directory_.empty() || isOpen())
        return false;
    data_ = createFile(dataPath_.c_str());
    pointers_ = createFile(pointerPath_.c_str());
    schema_.clear();
    const auto openFile = [readOnly](File& file) {
        return readOnly ? file.openReadOnly() : file.open();
    };
    if (!openFile(*data_) || !openFile(*pointers_) || !readHeader() || !loadIndexes(readOnly)) {
        close();
        return false;
    }
    stored_.resetFrom(schema_);
    return true;
}

bool Table::readHeader() {
    const uint32_t size = fileio::contentSize(*data_);
    uint32_t live = 0;
    uint32_t removed = 0;
    uint32_t fields = 0;
    if (size < kHeaderSize || !data_->seek(0, FILE_SEEK_BEGIN) || !fileio::readU32(*data_, live) ||
        !fileio::readU32(*data_, removed) || !fileio::readU32(*data_, fields)) {
        return false;
    }
    if (fields > kMaxRecordFields ||
        static_cast<uint64_t>(fields) * kDescriptorSize > size - kHeaderSize) {
        return false;
    }
    for (uint32_t i = 0; i < fields; ++i) {
        uint32_t type = 0;
        std::wstring name;
        if (!fileio::readU32(*data_, type) || !fileio::readName(*data_, name) ||
            !schema_.addField(name.c_str(), static_cast<int32_t>(type))) {
            return false;
        }
    }
    recordsStart_ = data_->tell();
    codec_.setFieldCount(fields);

    // Every record ever appended has its pointer entry, so both counts fit in the entries.
    const uint32_t pointerBytes = fileio::contentSize(*pointers_);
    return pointerBytes % kPointerSize == 0 &&
           static_cast<uint64_t>(live) + removed <= pointerBytes / kPointerSize;
}

bool Table::loadIndexes(bool readOnly) {
    std::vector<CatalogueEntry> entries;
    if (!readCatalogue(cataloguePath(), entries))
        return false;
    for (const CatalogueEntry& entry : entries) {
        // The engine only indexes fields of the schema; another name means a damaged catalogue.
        if (schema_.findField(entry.fieldName.c_str()) == nullptr)
            return false;
        auto index = std::make_unique<TableIndex>(entry.indexName.c_str(), directory_.c_str(),
                                                  entry.fieldName.c_str());
        if (index->open(readOnly))
            indexes_.push_back(std::move(index));
    }
    return true;
}

bool Table::saveCatalogue() const {
    std::vector<CatalogueEntry> entries;
    for (const auto& index : indexes_)
        entries.push_back({index->indexName(), index->fieldName()});
    return writeCatalogue(cataloguePath(), entries);
}

void Table::releaseFiles() {
    for (auto& index : indexes_)
        index->close();
    indexes_.clear();
    data_.reset();
    pointers_.reset();
    recordsStart_ = 0;
}

bool Table::close() {
    if (!isOpen())
        return false;
    cursors_.clear();
    releaseFiles();
    schema_.clear();
    stored_.clear();
    return true;
}

bool Table::drop() {
    if (directory_.empty() || isOpen())
        return false;
    removeFile(dataPath_.c_str());
    removeFile(pointerPath_.c_str());
    // A damaged catalogue still yields the entries in front of the damage.
    std::vector<CatalogueEntry> entries;
    readCatalogue(cataloguePath(), entries);
    for (const CatalogueEntry& entry : entries) {
        TableIndex(entry.indexName.c_str(), directory_.c_str(), entry.fieldName.c_str())
            .removeFile();
    }
    removeFile(cataloguePath().c_str());
    return true;
}

std::vector<std::wstring> Table::filePaths() const {
    if (!isOpen())
        return {};
    std::vector<std::wstring> paths{dataPath_, pointerPath_, cataloguePath()};
    for (const auto& index : indexes_)
        paths.push_back(index->path());
    return paths;
}

bool Table::pointerAt(uint64_t number, uint32_t& offset) {
    return fileio::seekTo(*pointers_, number * kPointerSize) && fileio::readU32(*pointers_, offset);
}

bool Table::recordOffset(uint32_t number, uint32_t& offset) {
    // A record lies behind the header; seeking checks that it starts inside the data file.
    return pointerAt(number, offset) && offset >= recordsStart_ && fileio::seekTo(*data_, offset);
}

bool Table::readRecord(uint32_t number, FieldList& record) {
    uint32_t offset = 0;
    return isOpen() && recordOffset(number, offset) && codec_.decode(*data_, record);
}

bool Table::adjustCount(uint32_t offset, int32_t delta) {
    if (offset != kLiveCountOffset && offset != kRemovedCountOffset)
        return false;
    uint32_t count = 0;
    return fileio::seekTo(*data_, offset) && fileio::readU32(*data_, count) &&
           fileio::seekTo(*data_, offset) &&
           fileio::writeU32(*data_, count + static_cast<uint32_t>(delta));
}

bool Table::appendRecord(const FieldList& record) {
    uint32_t number = 0;
    return append(record, number);
}

bool Table::append(const FieldList& record, uint32_t& number) {
    if (!writable() || !codec_.encode(record))
        return false;
    // The record goes in before its pointer entry, so that no entry ever points at bytes that
    // were not written.
    data_->seek(0, FILE_SEEK_END);
    const uint32_t offset = data_->tell();
    const std::vector<uint8_t>& bytes = codec_.bytes();
    if (!fileio::writeExact(*data_, bytes.data(), static_cast<uint32_t>(bytes.size())))
        return false;
    pointers_->seek(0, FILE_SEEK_END);
    number = pointers_->tell() / kPointerSize;
    if (!fileio::writeU32(*pointers_, offset))
        return false;
    const bool counted = adjustCount(kLiveCountOffset, +1);
    return addIndexEntries(record, number) && counted;
}

bool Table::addIndexEntries(const FieldList& record, uint32_t number) {
    for (const auto& index : indexes_) {
        const Field* field = record.findField(index->fieldName());
        if (field == nullptr)
            return false;
        if (field->isNull || !key_.assign(*field))
            continue;
        if (!index->insert(key_.bucket(), number))
            return false;
    }
    return true;
}

bool Table::removeRecord(uint32_t number) {
    uint32_t offset = 0;
    if (!writable() || !pointerAt(number, offset) || offset == 0)
        return false;
    if (!fileio::seekTo(*pointers_, static_cast<uint64_t>(number) * kPointerSize) ||
        !fileio::writeU32(*pointers_, 0)) {
        return false;
    }
    const bool live = adjustCount(kLiveCountOffset, -1);
    const bool removed = adjustCount(kRemovedCountOffset, +1);
    return live && removed;
}

bool Table::moveRecord(uint32_t number, const FieldList& record, uint32_t& now) {
    // Appended first, so that a failed append leaves the old record in place.
    uint32_t offset = 0;
    uint32_t moved = 0;
    if (!pointerAt(number, offset) || offset == 0 || !append(record, moved) ||
        !removeRecord(number)) {
        return false;
    }
    now = moved;
    return true;
}

bool Table::updateRecord(uint32_t number, const FieldList& record) {
    uint32_t now = 0;
    return updateRecord(number, record, now);
}

bool Table::updateRecord(uint32_t number, const FieldList& record, uint32_t& now) {
    if (!writable())
        return false;
    now = number;
    if (codec_.compact())
        return moveRecord(number, record, now);
    uint32_t offset = 0;
    if (!recordOffset(number, offset) || !codec_.decode(*data_, stored_))
        return false;
    if (!sameFixedLayout(stored_, record))
        return moveRecord(number, record, now);
    if (!codec_.encode(record))
        return false;
    const std::vector<uint8_t>& bytes = codec_.bytes();
    return fileio::seekTo(*data_, offset) &&
           fileio::writeExact(*data_, bytes.data(), static_cast<uint32_t>(bytes.size())) &&
           reindexChangedKeys(stored_, record, number);
}

bool Table::reindexChangedKeys(const FieldList& before, const FieldList& after, uint32_t number) {
    // The entries under the old values stay (lookups check every candidate); a value that moved
    // to another bucket gets an entry there, so that lookups for it find the record.
    for (const auto& index : indexes_) {
        const Field* now = after.findField(index->fieldName());
        const Field* was = before.findField(index->fieldName());
        if (now == nullptr || was == nullptr)
            return false;
        if (now->isNull || !key_.assign(*now))
            continue;
        // Under an unchanged bucket the old entry already leads lookups to the record; a bucket
        // that lists it from an earlier value must not list it twice, or walks meet it twice.
        const uint32_t bucket = key_.bucket();
        if (!was->isNull && key_.assign(*was) && key_.bucket() == bucket)
            continue;
        if (!index->lists(bucket, number) && !index->insert(bucket, number))
            return false;
    }
    return true;
}

bool Table::scanFrom(uint64_t number, uint32_t& found) {
    if (!fileio::seekTo(*pointers_, number * kPointerSize))
        return false;
    for (uint32_t offset = 0; fileio::readU32(*pointers_, offset); ++number) {
        if (offset != 0) {
            found = static_cast<uint32_t>(number);
            return true;
        }
    }
    return false;
}

bool Table::firstRecordId(uint32_t& number) {
    return isOpen() && scanFrom(0, number);
}

bool Table::nextRecordId(uint32_t& number) {
    return isOpen() && scanFrom(static_cast<uint64_t>(number) + 1, number);
}

uint32_t Table::numberEnd() {
    return isOpen() ? fileio::contentSize(*pointers_) / kPointerSize : 0;
}

bool Table::createIndex(const wchar_t* indexName, const wchar_t* fieldName) {
    if (indexName == nullptr || fieldName == nullptr || !writable() ||
        !isPlainIndexName(indexName) || schema_.findField(fieldName) == nullptr) {
        return false;
    }
    for (const auto& index : indexes_) {
        if (std::wcscmp(index->indexName(), indexName) == 0)
            return false;
    }
    auto index = std::make_unique<TableIndex>(indexName, directory_.c_str(), fieldName);
    if (!index->create())
        return false;
    if (fillIndex(*index)) {
        indexes_.push_back(std::move(index));
        if (saveCatalogue())
            return true;
        index = std::move(indexes_.back());
        indexes_.pop_back();
    }
    index->close();
    index->removeFile();
    return false;
}

bool Table::fillIndex(TableIndex& index) {
    FieldList record;
    record.resetFrom(schema_);
    uint32_t number = 0;
    for (bool more = firstRecordId(number); more; more = nextRecordId(number)) {
        if (!readRecord(number, record))
            return false;
        // Every record is filed, null or not; byte strings have no key.
        const Field* field = record.findField(index.fieldName());
        if (field != nullptr && key_.assign(*field) && !index.insert(key_.bucket(), number))
            return false;
    }
    return true;
}

TableIndex* Table::findIndex(const wchar_t* fieldName) const {
    if (fieldName == nullptr)
        return nullptr;
    for (const auto& index : indexes_) {
        if (std::wcscmp(index->fieldName(), fieldName) == 0)
            return index.get();
    }
    return nullptr;
}

bool Table::firstCandidate(TableIndex& index, const wchar_t* keyText, uint32_t& number,
                           uint32_t& next) {
    if (!isOpen() || keyText == nullptr ||
        !index.readChainSlot(indexBucket(keyText), number, next) || number == kNoSlot) {
        return false;
    }
    return settleCandidate(index, number, next);
}

bool Table::nextCandidate(TableIndex& index, uint32_t& number, uint32_t& next) {
    if (!isOpen() || next == kNoSlot)
        return false;
    const uint32_t slot = next;
    return index.readChainSlot(slot, number, next) && settleCandidate(index, number, next);
}

bool Table::settleCandidate(TableIndex& index, uint32_t& number, uint32_t& next) {
    // Skip the records that were removed since they were filed. Chain links only lead to older
    // slots (readChainSlot checks it), so the walk ends.
    for (;;) {
        uint32_t offset = 0;
        if (!pointerAt(number, offset))
            return false;
        if (offset != 0)
            return true;
        if (next == kNoSlot)
            return false;
        const uint32_t slot = next;
        if (!index.readChainSlot(slot, number, next))
            return false;
    }
}

RecordSet Table::openRecordSet() {
    if (!isOpen())
        return RecordSet();
    cursors_.push_back(std::make_shared<RecordCursor>(*this));
    return RecordSet(cursors_.back());
}

bool Table::closeRecordSet(RecordSet& handle) {
    const std::shared_ptr<RecordCursor> cursor = handle.cursor_.lock();
    for (auto it = cursors_.begin(); cursor && it != cursors_.end(); ++it) {
        if (*it == cursor) {
            cursors_.erase(it);
            handle.cursor_.reset();
            handle.raw_ = nullptr;
            return true;
        }
    }
    return false;
}
