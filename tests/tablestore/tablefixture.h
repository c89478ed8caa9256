// A temporary directory with tables in it, and short ways to fill and read record buffers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "table.h"
#include "testsupport.h"

namespace tabletest {

struct FieldSpec {
    const wchar_t* name;
    int32_t type;
};

class TableFixture : public ::testing::Test {
  protected:
    // A table with the fields, created (or only constructed when create is false).
    std::unique_ptr<Table> makeTable(const wchar_t* name, std::initializer_list<FieldSpec> fields,
                                     bool compact = false, bool create = true) {
        auto table = std::make_unique<Table>(name, dir_.wide().c_str(), compact);
        for (const FieldSpec& f : fields)
            EXPECT_TRUE(table->addField(f.name, f.type));
        if (create) {
            EXPECT_TRUE(table->create());
        }
        return table;
    }
    std::unique_ptr<Table> openTable(const wchar_t* name, bool compact = false) {
        auto table = std::make_unique<Table>(name, dir_.wide().c_str(), compact);
        EXPECT_TRUE(table->open());
        return table;
    }

    std::filesystem::path file(const std::wstring& name) const { return dir_.path() / name; }

    static FieldList recordOf(const Table& table) {
        FieldList record;
        record.resetFrom(table.schema());
        return record;
    }
    static void setNumber(FieldList& record, const wchar_t* name, uint32_t value) {
        static_cast<UInt32Field*>(record.findField(name))->setValue(value);
    }
    static void setText(FieldList& record, const wchar_t* name, const wchar_t* text) {
        static_cast<StringField*>(record.findField(name))->setValue(text);
    }
    static uint32_t number(const FieldList& record, const wchar_t* name) {
        return static_cast<UInt32Field*>(record.findField(name))->getValue();
    }
    static std::wstring text(const FieldList& record, const wchar_t* name) {
        return static_cast<StringField*>(record.findField(name))->getValue();
    }

    // Appends a record with ID and NAME set.
    static bool append(Table& table, uint32_t id, const wchar_t* name) {
        FieldList record = recordOf(table);
        setNumber(record, L"ID", id);
        setText(record, L"NAME", name);
        return table.appendRecord(record);
    }

    // Record numbers of the walk over the records in use.
    static std::vector<uint32_t> walk(Table& table) {
        std::vector<uint32_t> numbers;
        uint32_t n = 0;
        for (bool more = table.firstRecordId(n); more; more = table.nextRecordId(n))
            numbers.push_back(n);
        return numbers;
    }

    // Record numbers that a lookup of keyText in the index over fieldName yields.
    static std::vector<uint32_t> lookup(Table& table, const wchar_t* fieldName,
                                        const wchar_t* keyText) {
        std::vector<uint32_t> numbers;
        TableIndex* index = table.findIndex(fieldName);
        EXPECT_NE(index, nullptr);
        if (index == nullptr)
            return numbers;
        uint32_t n = 0;
        uint32_t next = 0;
        for (bool more = table.firstCandidate(*index, keyText, n, next); more;
             more = table.nextCandidate(*index, n, next)) {
            numbers.push_back(n);
        }
        return numbers;
    }

    testsupport::TempDir dir_;
};

}  // namespace tabletest
