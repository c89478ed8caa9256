// Writes the seed inputs of the tablefiles target: tables made by the engine itself, packed in
// the target's input form. Usage: tableseeds <folder>.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "table.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBucketBytes = 65536 * 8;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void putU16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8 & 0xFF);
}

void putU32(std::string& out, uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

void putU64(std::string& out, uint64_t v) {
    putU32(out, static_cast<uint32_t>(v));
    putU32(out, static_cast<uint32_t>(v >> 32));
}

void putText(std::string& out, const std::string& text) {
    out += static_cast<char>(text.size());
    out += text;
}

// An index file in short form: the buckets in use as patches, then the overflow slots.
std::string packIndex(const std::string& file) {
    std::string patches;
    uint32_t count = 0;
    for (size_t at = 0; at < kBucketBytes && at + 8 <= file.size(); at += 8) {
        if (file.compare(at, 8, std::string(8, '\xFF')) != 0) {
            putU16(patches, static_cast<uint32_t>(at / 8));
            patches += file.substr(at, 8);
            ++count;
        }
    }
    std::string out;
    putU16(out, count);
    return out + patches + (file.size() > kBucketBytes ? file.substr(kBucketBytes) : "");
}

struct Seed {
    const char* name;
    bool compact;
    std::string operations;
    // Fills the created table; the table stays open for the packing.
    std::function<void(Table&)> fill;
};

void setRecord(Table& table, FieldList& record, uint32_t id, const wchar_t* name, uint64_t size) {
    record.resetFrom(table.schema());
    static_cast<UInt32Field*>(record.findField(L"ID"))->setValue(id);
    static_cast<StringField*>(record.findField(L"NAME"))->setValue(name);
    static_cast<UInt64Field*>(record.findField(L"SIZE"))->setValue(size);
    static_cast<UInt8Field*>(record.findField(L"FLAG"))->setValue(static_cast<uint8_t>(id));
    static_cast<UInt16Field*>(record.findField(L"W"))->setValue(static_cast<uint16_t>(id * 7));
    static constexpr uint8_t kBytes[] = {2, 0xAB, 0xCD};
    static_cast<ByteStringField*>(record.findField(L"B"))->setValue(kBytes);
}

// Values of an appended or updated record in the operations' form, in schema order.
std::string values(uint32_t id, const std::string& name, uint64_t size) {
    std::string out;
    putU64(out, id);
    putText(out, name);
    putU64(out, size);
    putU64(out, id & 0xFF);
    putU64(out, id * 7);
    putText(out, "\x01\x02");
    return out;
}

std::string operations(uint8_t flags, uint8_t indexField, uint32_t update, uint32_t remove,
                       uint8_t nulls, const std::string& key,
                       const std::string& updateName = "renamed.txt") {
    std::string out;
    out += static_cast<char>(flags);
    out += static_cast<char>(indexField);
    putU32(out, update);
    putU32(out, remove);
    out += static_cast<char>(nulls);
    putText(out, key);
    return out + values(40, "appended.txt", 12345) + values(41, updateName, 9);
}

bool writeSeed(const fs::path& work, const fs::path& out, const Seed& seed) {
    fs::remove_all(work);
    fs::create_directories(work);
    Table table(L"t", work.wstring().c_str(), seed.compact);
    for (auto [name, type] : {std::pair{L"ID", FT_UINT32},
                              {L"NAME", FT_STRING},
                              {L"SIZE", FT_UINT64},
                              {L"FLAG", FT_UINT8},
                              {L"W", FT_UINT16},
                              {L"B", FT_BYTES}}) {
        table.addField(name, type);
    }
    if (!table.create())
        return false;
    seed.fill(table);
    table.close();

    const std::string separator = "<<file>>";
    std::string input = seed.operations;
    for (const char* name : {"t.dat", "t.pxx", "t_idx.dat"}) {
        if (!fs::exists(work / name))
            break;
        input += separator + readFile(work / name);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(work)) {
        if (entry.path().extension() == ".idx") {
            input +=
                separator + entry.path().stem().string() + '\0' + packIndex(readFile(entry.path()));
        }
    }
    std::ofstream(out / seed.name, std::ios::binary) << input;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tableseeds <folder>\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path work = fs::temp_directory_path() / "vigil-tableseeds";
    fs::create_directories(out);

    const auto three = [](Table& table) {
        table.createIndex(L"t_NAME", L"NAME");
        FieldList record;
        const wchar_t* names[] = {L"alpha.txt", L"beta.dat", L"Gamma \u00e9\u4e2d.bin"};
        for (uint32_t i = 0; i < 3; ++i) {
            setRecord(table, record, i + 1, names[i], 1000u * i);
            table.appendRecord(record);
        }
        table.createIndex(L"t_ID", L"ID");
        table.removeRecord(1);
        // Two records in one bucket, so that the index has an overflow slot.
        setRecord(table, record, 9, L"alpha.txt", 1);
        table.appendRecord(record);
    };
    const Seed seeds[] = {
        {"fixed-three-records", false, operations(0, 0, 0, 0, 0, "ALPHA.TXT"), three},
        {"fixed-update-in-place-remove-drop", false,
         operations(4 | 8, 0, 0, 1, 0x04, "1", "omega.txt"), three},
        {"compact-index-remove", true, operations(1 | 2 | 4, 2, 2, 1, 0x01, "beta.dat"), three},
        {"fixed-empty", false, operations(2, 1, 0, 0, 0, ""),
         [](Table& table) { table.createIndex(L"t_ID", L"ID"); }},
        {"fixed-no-catalogue", false, operations(0, 0, 0, 0, 0xFF, "x"),
         [](Table& table) {
             FieldList record;
             setRecord(table, record, 7, L"only", 7);
             table.appendRecord(record);
         }},
    };
    for (const Seed& seed : seeds) {
        if (!writeSeed(work, out, seed)) {
            std::fprintf(stderr, "tableseeds: cannot make %s\n", seed.name);
            return 1;
        }
    }
    fs::remove_all(work);
    return 0;
}
