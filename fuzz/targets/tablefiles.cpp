// The files of one table, made by the input, opened and worked on: every record read, every
// index looked up, one record appended, one updated, and on request one removed, an index
// created and the table dropped.
//
// Input: chunks separated by "<<file>>": the operations (below), then the bytes of t.dat,
// t.pxx and t_idx.dat, then any number of index files. An index chunk holds the file name
// without ".idx" up to a zero byte, then either "R" and the raw contents, or the contents in
// short form: 65536 empty buckets, a u16 count of (u16 bucket, u32 record number, u32 next slot)
// patches to them, and the rest of the chunk appended as overflow slots. A missing chunk is a
// missing file.
//
// Operations: a flag byte (1 compact encoding, 2 create an index, 4 remove a record, 8 drop the
// table at the end), the schema field to index (u8), which record to update and which to remove
// (u32 each, counted among the records read), which fields to leave null (u8, a bit for each of
// the first eight), a key text to look up, then the field values of the appended record and of
// the update: u64 for a number, a length byte and that many bytes for a string (UTF-8) or a byte
// string.
//
// The table is opened read-only first: it reads as it does when writable, refuses every change
// and leaves its files as they were.
//
// Checked: no read outside the files and no hang; record numbers of the walk and of every
// lookup lie inside the record-pointer file and chains end; an appended or updated record reads
// back as written, is found under its keys and by a record set selecting its value; a new index
// finds every record; no later operation changes a record this run wrote; the table opens again
// afterwards with those records, and drop deletes its files.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "criteriaevaluator.h"
#include "field.h"
#include "fuzzentry.h"
#include "fuzzsupport.h"
#include "indexkey.h"
#include "table.h"

namespace {

constexpr std::string_view kSeparator = "<<file>>";
constexpr uint32_t kSlotSize = 8;
// Records whose contents are followed through the operations.
constexpr size_t kMaxSnapshot = 64;
// Records whose keys are looked up in every index.
constexpr size_t kMaxLookups = 8;
constexpr size_t kMaxIndexName = 64;

namespace fs = std::filesystem;

bool isSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > kMaxIndexName || name == "." || name == "..")
        return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!plain)
            return false;
    }
    return true;
}

// The contents of an index file; the buffer is kept between runs, like the one of contentsOf.
const std::string& expandIndex(std::string_view chunk) {
    static std::string contents;
    if (!chunk.empty() && chunk.front() == 'R') {
        contents.assign(chunk.substr(1));
        return contents;
    }
    contents.assign(static_cast<size_t>(INDEX_BUCKETS) * kSlotSize, '\xFF');
    fuzz::ByteReader reader(chunk);
    for (uint16_t count = reader.u16(); count > 0 && reader.remaining() > 0; --count) {
        const size_t at = static_cast<size_t>(reader.u16()) * kSlotSize;
        for (size_t i = 0; i < kSlotSize; ++i)
            contents[at + i] = static_cast<char>(reader.byte());
    }
    contents += reader.rest();
    return contents;
}

// Writes the files of the input; returns the operations chunk.
std::string_view writeFiles(fuzz::ByteReader& input, const fuzz::ScratchDirectory& dir) {
    const std::string_view operations = input.until(kSeparator);
    for (const wchar_t* name : {L"t.dat", L"t.pxx", L"t_idx.dat"}) {
        if (input.remaining() == 0)
            return operations;
        dir.write(name, input.until(kSeparator));
    }
    while (input.remaining() > 0) {
        fuzz::ByteReader chunk(input.until(kSeparator));
        const std::string_view name = chunk.until(std::string_view("\0", 1));
        if (isSafeFileName(name))
            dir.write(fuzz::wideText(name) + L".idx", expandIndex(chunk.rest()));
    }
    return operations;
}

FieldList copyOf(const FieldList& record) {
    FieldList copy;
    copy.resetFrom(record);
    return copy;
}

bool sameField(const Field& a, const Field& b) {
    if (a.type() != b.type() || a.isNull != b.isNull)
        return false;
    switch (a.type()) {
        case FT_UINT8:
            return static_cast<const UInt8Field&>(a).getValue() ==
                   static_cast<const UInt8Field&>(b).getValue();
        case FT_UINT16:
            return static_cast<const UInt16Field&>(a).getValue() ==
                   static_cast<const UInt16Field&>(b).getValue();
        case FT_UINT32:
            return static_cast<const UInt32Field&>(a).getValue() ==
                   static_cast<const UInt32Field&>(b).getValue();
        case FT_UINT64:
            return static_cast<const UInt64Field&>(a).getValue() ==
                   static_cast<const UInt64Field&>(b).getValue();
        case FT_STRING: {
            const wchar_t* x = static_cast<const StringField&>(a).getValue();
            const wchar_t* y = static_cast<const StringField&>(b).getValue();
            return std::wstring(x ? x : L"") == std::wstring(y ? y : L"");
        }
        default: {
            const uint8_t* x = static_cast<const ByteStringField&>(a).getValue();
            const uint8_t* y = static_cast<const ByteStringField&>(b).getValue();
            const uint8_t nx = x ? x[0] : 0;
            const uint8_t ny = y ? y[0] : 0;
            return nx == ny && (nx == 0 || std::equal(x + 1, x + 1 + nx, y + 1));
        }
    }
}

bool sameRecord(const FieldList& a, const FieldList& b) {
    if (a.fieldCount() != b.fieldCount())
        return false;
    for (size_t i = 0; i < a.fieldCount(); ++i) {
        if (!sameField(*a.fieldAt(i), *b.fieldAt(i)))
            return false;
    }
    return true;
}

// Gives every field of record a value from the operations; the fields of nullMask stay null.
void fillRecord(FieldList& record, fuzz::ByteReader& values, uint8_t nullMask) {
    for (size_t i = 0; i < record.fieldCount(); ++i) {
        Field& field = *record.fieldAt(i);
        switch (field.type()) {
            case FT_UINT8:
                static_cast<UInt8Field&>(field).setValue(static_cast<uint8_t>(values.u64()));
                break;
            case FT_UINT16:
                static_cast<UInt16Field&>(field).setValue(static_cast<uint16_t>(values.u64()));
                break;
            case FT_UINT32:
                static_cast<UInt32Field&>(field).setValue(static_cast<uint32_t>(values.u64()));
                break;
            case FT_UINT64:
                static_cast<UInt64Field&>(field).setValue(values.u64());
                break;
            case FT_STRING: {
                const std::wstring text = fuzz::wideText(values.shortText());
                static_cast<StringField&>(field).setValue(text.c_str());
                break;
            }
            default: {
                const std::string_view bytes = values.shortText();
                uint8_t buffer[256] = {static_cast<uint8_t>(bytes.size())};
                std::copy(bytes.begin(), bytes.end(), buffer + 1);
                static_cast<ByteStringField&>(field).setValue(buffer);
                break;
            }
        }
        if (i < 8 && (nullMask >> i & 1) != 0)
            field.isNull = 1;
    }
}

struct Stored {
    uint32_t number;
    FieldList record;
    // Written by this run. Only such records are known to own their bytes: damaged record
    // pointers may make records share or overlap bytes, and then a change of one is seen in
    // the other.
    bool written = false;
};

class TableRun {
  public:
    TableRun(Table& table, uint32_t entries) : table_(table), entries_(entries) {}

    // Walks every record, keeps the first ones and checks that reads stay inside the table.
    void readAll() {
        FUZZ_CHECK(table_.numberEnd() == entries_);
        size_t visited = 0;
        uint32_t number = 0;
        uint32_t previous = 0;
        for (bool more = table_.firstRecordId(number); more; more = table_.nextRecordId(number)) {
            FUZZ_CHECK(number < entries_);
            FUZZ_CHECK(visited == 0 || number > previous);
            previous = number;
            ++visited;
            FieldList record = blank();
            if (table_.readRecord(number, record) && stored_.size() < kMaxSnapshot)
                stored_.push_back({number, std::move(record)});
        }
        FieldList record = blank();
        FUZZ_CHECK(!table_.readRecord(entries_, record));
    }

    // Looks up the keys of the first records and keyText in every index.
    void lookUpAll(const std::wstring& keyText) {
        for (TableIndex* index : indexes()) {
            lookUp(*index, keyText.c_str());
            for (size_t i = 0; i < stored_.size() && i < kMaxLookups; ++i) {
                const Field* field = stored_[i].record.findField(index->fieldName());
                if (field != nullptr && key_.assign(*field))
                    lookUp(*index, key_.text());
            }
        }
    }

    void append(const FieldList& record) {
        if (!table_.appendRecord(record))
            return;
        const uint32_t number = entries_++;
        FUZZ_CHECK(lastRecord() == number && table_.numberEnd() == entries_);
        FieldList back = blank();
        FUZZ_CHECK(table_.readRecord(number, back) && sameRecord(back, record));
        for (TableIndex* index : indexes()) {
            const Field* field = record.findField(index->fieldName());
            if (field != nullptr && !field->isNull && key_.assign(*field)) {
                FUZZ_CHECK(firstCandidate(*index, key_.text()) == number);
                const std::wstring criteria = equalityOf(*field);
                if (!criteria.empty())
                    FUZZ_CHECK(recordSetFinds(criteria));
            }
        }
        stored_.push_back({number, copyOf(record), true});
    }

    void update(uint32_t pick, const FieldList& record) {
        if (stored_.empty())
            return;
        Stored& target = stored_[pick % stored_.size()];
        uint32_t now = 0;
        if (!table_.updateRecord(target.number, record, now)) {
            // What a failed update left of the record is not defined, and it may have added the
            // new version at the end; the other records must stay.
            forget(target.number);
            entries_ = table_.numberEnd();
            return;
        }
        FieldList back = blank();
        if (now != target.number) {
            // Moved to a new number at the end; the old one is free.
            FUZZ_CHECK(now == entries_ && lastRecord() == now);
            FUZZ_CHECK(!table_.readRecord(target.number, back));
            target.number = now;
            ++entries_;
        }
        FUZZ_CHECK(table_.numberEnd() == entries_);
        FUZZ_CHECK(table_.readRecord(target.number, back) && sameRecord(back, record));
        target.record = copyOf(record);
        target.written = true;
    }

    void remove(uint32_t pick) {
        if (stored_.empty())
            return;
        const uint32_t number = stored_[pick % stored_.size()].number;
        forget(number);
        if (!table_.removeRecord(number))
            return;
        FieldList back = blank();
        FUZZ_CHECK(!table_.readRecord(number, back));
    }

    void createIndex(uint8_t choice) {
        const FieldList& schema = table_.schema();
        if (schema.fieldCount() == 0)
            return;
        const wchar_t* fieldName = schema.fieldAt(choice % schema.fieldCount())->name();
        if (fieldName == nullptr || table_.findIndex(fieldName) != nullptr ||
            !table_.createIndex(L"fuzz", fieldName)) {
            return;
        }
        TableIndex* index = table_.findIndex(fieldName);
        FUZZ_CHECK(index != nullptr);
        // A new index files every record in use.
        for (const Stored& stored : stored_) {
            const Field* field = stored.record.findField(fieldName);
            if (field != nullptr && key_.assign(*field))
                FUZZ_CHECK(isCandidate(*index, key_.text(), stored.number));
        }
    }

    // A table opened read-only refuses every change.
    void refuseChanges(const FieldList& record) {
        FUZZ_CHECK(!table_.appendRecord(record));
        for (const Stored& stored : stored_) {
            FUZZ_CHECK(!table_.updateRecord(stored.number, record));
            FUZZ_CHECK(!table_.removeRecord(stored.number));
        }
        const FieldList& schema = table_.schema();
        if (schema.fieldCount() > 0 && schema.fieldAt(0)->name() != nullptr)
            FUZZ_CHECK(!table_.createIndex(L"fuzz", schema.fieldAt(0)->name()));
    }

    // Every record this run wrote reads as it was written.
    void checkStored(Table& table) {
        for (const Stored& stored : stored_) {
            if (!stored.written)
                continue;
            FieldList back;
            back.resetFrom(table.schema());
            FUZZ_CHECK(table.readRecord(stored.number, back) && sameRecord(back, stored.record));
        }
    }

  private:
    FieldList blank() const {
        FieldList record;
        record.resetFrom(table_.schema());
        return record;
    }

    std::vector<TableIndex*> indexes() const {
        std::vector<TableIndex*> found;
        const FieldList& schema = table_.schema();
        for (size_t i = 0; i < schema.fieldCount(); ++i) {
            TableIndex* index = table_.findIndex(schema.fieldAt(i)->name());
            if (index != nullptr && std::find(found.begin(), found.end(), index) == found.end())
                found.push_back(index);
        }
        return found;
    }

    void forget(uint32_t number) {
        std::erase_if(stored_, [&](const Stored& s) { return s.number == number; });
    }

    uint32_t lastRecord() {
        uint32_t number = 0;
        uint32_t last = kNoSlot;
        for (bool more = table_.firstRecordId(number); more; more = table_.nextRecordId(number))
            last = number;
        return last;
    }

    // Walks the candidates of keyText; calls visit for each until it returns true.
    template <typename Visit>
    bool walk(TableIndex& index, const wchar_t* keyText, Visit visit) {
        std::error_code ec;
        const uint64_t slots = fs::file_size(index.path(), ec) / kSlotSize;
        uint64_t steps = 0;
        uint32_t number = 0;
        uint32_t next = 0;
        for (bool more = table_.firstCandidate(index, keyText, number, next); more;
             more = table_.nextCandidate(index, number, next)) {
            FUZZ_CHECK(number < entries_);
            FUZZ_CHECK(++steps <= slots);
            if (visit(number))
                return true;
        }
        return false;
    }

    // The criteria [F]==value for a number or text field, or nothing when the name cannot be
    // written as a field reference or the value cannot serve as an index key (a string with a
    // quote or a wildcard): the record set then walks the whole table, and that walk may end
    // early at a damaged record.
    static std::wstring equalityOf(const Field& field) {
        const std::wstring name = field.name() ? field.name() : L"";
        const auto letter = [](wchar_t c) {
            return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
        };
        if (name.empty() || !letter(name[0]))
            return std::wstring();
        for (wchar_t c : name) {
            if (!letter(c) && !(c >= L'0' && c <= L'9'))
                return std::wstring();
        }
        const std::wstring reference = L"[" + name + L"]==";
        switch (field.type()) {
            case FT_UINT8:
                return reference +
                       std::to_wstring(static_cast<const UInt8Field&>(field).getValue());
            case FT_UINT16:
                return reference +
                       std::to_wstring(static_cast<const UInt16Field&>(field).getValue());
            case FT_UINT32:
                return reference +
                       std::to_wstring(static_cast<const UInt32Field&>(field).getValue());
            case FT_UINT64:
                return reference +
                       std::to_wstring(static_cast<const UInt64Field&>(field).getValue());
            case FT_STRING: {
                const wchar_t* text = static_cast<const StringField&>(field).getValue();
                const std::wstring value = text ? text : L"";
                if (value.find_first_of(L"\"*?") != std::wstring::npos)
                    return std::wstring();
                return reference + L'"' + value + L'"';
            }
            default:
                return std::wstring();
        }
    }

    // True when a record set selecting criteria finds at least one record.
    bool recordSetFinds(const std::wstring& criteria) {
        CriteriaEvaluator evaluator(criteria.c_str());
        RecordSet set = table_.openRecordSet();
        const bool found = set.select(&evaluator, true) && set.moveFirst();
        table_.closeRecordSet(set);
        return found;
    }

    void lookUp(TableIndex& index, const wchar_t* keyText) {
        walk(index, keyText, [](uint32_t) { return false; });
    }

    uint32_t firstCandidate(TableIndex& index, const wchar_t* keyText) {
        uint32_t first = kNoSlot;
        walk(index, keyText, [&](uint32_t number) {
            first = number;
            return true;
        });
        return first;
    }

    bool isCandidate(TableIndex& index, const wchar_t* keyText, uint32_t wanted) {
        return walk(index, keyText, [&](uint32_t number) { return number == wanted; });
    }

    Table& table_;
    uint32_t entries_;
    std::vector<Stored> stored_;
    IndexKey key_;
};

// Name and a hash of the bytes of every file in folder, in name order.
std::vector<std::pair<std::string, size_t>> contentsOf(const fs::path& folder) {
    // Kept between runs: index files are large, and fresh buffers would cost a page fault for
    // every page of them.
    static std::string bytes;
    std::vector<std::pair<std::string, size_t>> contents;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        bytes.resize(static_cast<size_t>(entry.file_size(ec)));
        std::ifstream in(entry.path(), std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        contents.emplace_back(entry.path().filename().string(), std::hash<std::string>()(bytes));
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

void runTable(const fuzz::ScratchDirectory& dir, fuzz::ByteReader& operations) {
    const uint8_t flags = operations.byte();
    const bool compact = (flags & 1) != 0;
    const uint8_t indexChoice = operations.byte();
    const uint32_t updatePick = operations.u32();
    const uint32_t removePick = operations.u32();
    const uint8_t nullMask = operations.byte();
    const std::wstring keyText = fuzz::wideText(operations.shortText());

    std::error_code ec;
    const auto entries = static_cast<uint32_t>(fs::file_size(dir.path() / "t.pxx", ec) / 4);
    FieldList appended;
    {
        const auto before = contentsOf(dir.path());
        Table reader(L"t", dir.wide().c_str(), compact);
        if (reader.open(true)) {
            TableRun run(reader, entries);
            run.readAll();
            run.lookUpAll(keyText);
            appended.resetFrom(reader.schema());
            run.refuseChanges(appended);
            reader.close();
        }
        FUZZ_CHECK(contentsOf(dir.path()) == before);
    }

    Table table(L"t", dir.wide().c_str(), compact);
    if (!table.open()) {
        if (flags & 8)
            table.drop();
        return;
    }
    TableRun run(table, entries);
    run.readAll();
    run.lookUpAll(keyText);

    appended.resetFrom(table.schema());
    fillRecord(appended, operations, nullMask);
    run.append(appended);
    FieldList updated;
    updated.resetFrom(table.schema());
    fillRecord(updated, operations, 0);
    run.update(updatePick, updated);
    if (flags & 4)
        run.remove(removePick);
    if (flags & 2)
        run.createIndex(indexChoice);
    run.checkStored(table);

    table.close();
    Table again(L"t", dir.wide().c_str(), compact);
    FUZZ_CHECK(again.open());
    run.checkStored(again);
    again.close();
    if (flags & 8) {
        FUZZ_CHECK(again.drop());
        for (const char* name : {"t.dat", "t.pxx", "t_idx.dat"})
            FUZZ_CHECK(!fs::exists(dir.path() / name, ec));
    }
}

}  // namespace

VIGIL_FUZZ_ENTRY(tablefiles) {
    fuzz::ScratchDirectory& dir = fuzz::ScratchDirectory::instance();
    dir.begin();
    fuzz::ByteReader input(data, size);
    fuzz::ByteReader operations(writeFiles(input, dir));
    runTable(dir, operations);
    dir.end();
}
