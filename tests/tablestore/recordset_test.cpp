#include "recordset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "criteriaevaluator.h"
#include "tablefixture.h"
#include "text/utf8.h"

namespace {

using Ids = std::vector<uint32_t>;

class RecordSetTest : public tabletest::TableFixture {
  protected:
    // Files table: ID, PATHID (indexed), NAME (indexed), SIZE.
    std::unique_ptr<Table> makeFiles(const wchar_t* name, bool compact = false) {
        auto table = makeTable(name,
                               {{L"ID", FT_UINT32},
                                {L"PATHID", FT_UINT32},
                                {L"NAME", FT_STRING},
                                {L"SIZE", FT_UINT64}},
                               compact);
        const std::wstring prefix(name);
        EXPECT_TRUE(table->createIndex((prefix + L"_PATHID").c_str(), L"PATHID"));
        EXPECT_TRUE(table->createIndex((prefix + L"_NAME").c_str(), L"NAME"));
        return table;
    }
    static void add(RecordSet& set, uint32_t id, uint32_t pathId, const wchar_t* name) {
        ASSERT_TRUE(set.setUInt32(L"ID", id));
        ASSERT_TRUE(set.setUInt32(L"PATHID", pathId));
        ASSERT_TRUE(set.setString(L"NAME", name));
        ASSERT_TRUE(set.setUInt64(L"SIZE", 0));
        ASSERT_TRUE(set.addRecord());
    }
    // IDs of the records a walk returns, in walk order.
    static Ids ids(RecordSet& set) {
        Ids out;
        for (bool more = set.moveFirst(); more; more = set.moveNext())
            out.push_back(set.getUInt32(L"ID"));
        return out;
    }
    static Ids sorted(Ids v) {
        std::sort(v.begin(), v.end());
        return v;
    }
    static SyntaxValue hint(const wchar_t* field, int64_t number) {
        SyntaxValue value;
        value.setName(field);
        value.number = number;
        return value;
    }
};

}  // namespace

TEST_F(RecordSetTest, WalksOneBucketNewestFirstOrEveryRecordInNumberOrder) {
    auto table = makeFiles(L"F");
    RecordSet set = table->openRecordSet();
    // Two path ids whose keys share a bucket.
    IndexKey key;
    key.assignNumber(7);
    const uint32_t bucket = key.bucket();
    uint32_t twin = 8;
    for (key.assignNumber(twin); key.bucket() != bucket; key.assignNumber(++twin)) {
    }
    const wchar_t* names[] = {L"readme.txt", L"b", L"gone", L"README.TXT", L"a*"};
    for (uint32_t id = 1; id <= 5; ++id)
        add(set, id, id == 2 ? twin : 7, names[id - 1]);
    ASSERT_TRUE(table->removeRecord(2));

    // No criteria, null, an empty text, or a hint on a field without an index: every record in
    // use in number order.
    CriteriaEvaluator empty(L"");
    CriteriaEvaluator unindexed(L"[SIZE] == 0");
    for (CriteriaEvaluator* criteria :
         {static_cast<CriteriaEvaluator*>(nullptr), &empty, &unindexed}) {
        ASSERT_TRUE(set.select(criteria, false));
        EXPECT_EQ(ids(set), (Ids{1, 2, 4, 5}));
    }
    // A hint from the text or from the caller: one bucket, newest first, colliding key left out.
    CriteriaEvaluator literal(L"[PATHID] == 7");
    FieldList variables;
    ASSERT_TRUE(variables.addField(L"pathid", FT_UINT32));
    static_cast<UInt32Field*>(variables.fieldAt(0))->setValue(twin);
    CriteriaEvaluator bound(L"[PATHID] == pathid");
    ASSERT_TRUE(bound.setVariables(&variables));
    ASSERT_TRUE(bound.setKeyHint(hint(L"PATHID", twin)));
    ASSERT_TRUE(set.select(&literal, true));
    EXPECT_EQ(ids(set), (Ids{5, 4, 1}));
    ASSERT_TRUE(set.select(&bound, true));
    EXPECT_EQ(ids(set), Ids{2});

    // String keys ignore case; the criteria and caseSensitive decide.
    CriteriaEvaluator mixed(L"[NAME] == \"ReadMe.txt\"");
    ASSERT_TRUE(set.select(&mixed, false));
    EXPECT_EQ(ids(set), (Ids{4, 1}));
    ASSERT_TRUE(set.select(&mixed, true));
    EXPECT_EQ(ids(set), Ids{});
    // The field's value is the pattern when it stands on the right: "a*" matches "a".
    CriteriaEvaluator reversed(L"\"a\" == [NAME]");
    ASSERT_TRUE(set.select(&reversed, false));
    EXPECT_EQ(ids(set), Ids{5});

    // No record matches: every one was read and tested, the last stays in the buffer.
    CriteriaEvaluator none(L"[SIZE] == 1");
    ASSERT_TRUE(set.select(&none, false));
    EXPECT_FALSE(set.moveFirst());
    EXPECT_EQ(set.getUInt32(L"ID"), 5u);
    EXPECT_FALSE(set.moveNext());
    // Criteria that could not be made hold for no record.
    CriteriaEvaluator broken(nullptr);
    ASSERT_TRUE(set.select(&broken, false));
    EXPECT_FALSE(set.moveFirst());

    // Letters whose lower case is an ASCII letter but whose upper case is not that letter's
    // (Kelvin sign, dotted I, long s): the index walk returns what testing every record returns.
    for (const wchar_t* letter : {L"\u212A", L"\u0130", L"\u017F"})
        add(set, 9, 8, letter);
    for (const wchar_t* text : {L"[NAME] == \"k\"", L"[NAME] == \"i\"", L"[NAME] == \"s\""}) {
        CriteriaEvaluator indexed(text);
        CriteriaEvaluator tested(text);
        ASSERT_TRUE(tested.setKeyHint(SyntaxValue()));  // no hint: every record is tested
        ASSERT_TRUE(set.select(&tested, false));
        const Ids all = ids(set);
        ASSERT_TRUE(set.select(&indexed, false));
        EXPECT_EQ(ids(set), all) << utf8::fromWide(text);
    }
}

TEST_F(RecordSetTest, HandlesEndWithCloseAndWithTheirTable) {
    auto table = makeFiles(L"F");
    auto other = makeFiles(L"G");
    RecordSet set = table->openRecordSet();
    RecordSet copy = set;
    RecordSet foreign = other->openRecordSet();
    EXPECT_FALSE(table->closeRecordSet(foreign));
    ASSERT_TRUE(table->closeRecordSet(set));
    EXPECT_FALSE(table->closeRecordSet(set));
    EXPECT_FALSE(table->closeRecordSet(copy));
    EXPECT_FALSE(copy.select(nullptr, false));

    RecordSet live = table->openRecordSet();
    add(live, 1, 1, L"x");
    ASSERT_TRUE(live.moveFirst());
    ASSERT_TRUE(table->close());
    // An ended set answers like an empty handle.
    for (RecordSet* ended : {&live, &copy}) {
        EXPECT_FALSE(ended->isOpen());
        EXPECT_FALSE(ended->moveNext());
        EXPECT_EQ(ended->getString(L"NAME"), nullptr);
        EXPECT_FALSE(ended->setUInt32(L"ID", 1));
        EXPECT_FALSE(ended->addRecord());
    }
    EXPECT_FALSE(table->openRecordSet().isOpen());
    EXPECT_TRUE(foreign.isOpen());
}

TEST_F(RecordSetTest, AccessorsRefuseUnknownNamesAndOtherTypes) {
    auto table = makeTable(L"T", {{L"B", FT_UINT8},
                                  {L"W", FT_UINT16},
                                  {L"ID", FT_UINT32},
                                  {L"SIZE", FT_UINT64},
                                  {L"NAME", FT_STRING}});
    RecordSet set = table->openRecordSet();
    ASSERT_TRUE(set.addRecord());
    // No current record yet: record 0 is neither rewritten nor removed.
    EXPECT_FALSE(set.updateRecord());
    EXPECT_FALSE(set.removeRecord());
    for (const wchar_t* name :
         {L"ID", L"NAME", L"nope", L"size", static_cast<const wchar_t*>(nullptr)})
        EXPECT_FALSE(set.setUInt64(name, 1));
    EXPECT_FALSE(set.setUInt32(L"SIZE", 1));
    EXPECT_FALSE(set.setString(L"ID", L"x"));

    ASSERT_TRUE(set.moveFirst());
    ASSERT_TRUE(set.setUInt32(L"ID", 7));
    ASSERT_TRUE(set.setUInt64(L"SIZE", 1ull << 40));
    ASSERT_TRUE(set.setString(L"NAME", L"n"));
    ASSERT_TRUE(set.updateRecord());
    ASSERT_TRUE(set.moveFirst());
    EXPECT_EQ(set.getUInt32(L"ID"), 7u);
    EXPECT_EQ(set.getUInt64(L"SIZE"), 1ull << 40);
    EXPECT_STREQ(set.getString(L"NAME"), L"n");
    EXPECT_EQ(set.getUInt32(L"SIZE") + set.getUInt64(L"ID") + set.getUInt8(L"W") +
                  set.getUInt16(L"B") + set.getUInt32(nullptr),
              0u);
    EXPECT_EQ(set.getString(L"ID"), nullptr);
    EXPECT_EQ(set.getString(L"name"), nullptr);
}

// Removing the current record as the walk goes, along an index chain and through the numbers:
// every second record, then all that are left.
TEST_F(RecordSetTest, RemovingWhileWalkingGoesOn) {
    auto table = makeFiles(L"F");
    RecordSet set = table->openRecordSet();
    for (uint32_t id = 1; id <= 10; ++id)
        add(set, id, id <= 6 ? 1 : 2, L"x");
    CriteriaEvaluator inDir(L"[PATHID] == 1");
    CriteriaEvaluator everything(L"[SIZE] == 0");
    const std::pair<CriteriaEvaluator*, Ids> rounds[] = {{&inDir, {5, 3, 1}},
                                                         {&everything, {8, 10}}};
    for (const auto& [criteria, left] : rounds) {
        ASSERT_TRUE(set.select(criteria, true));
        bool odd = false;
        for (bool more = set.moveFirst(); more; more = set.moveNext()) {
            if ((odd = !odd)) {
                ASSERT_TRUE(set.removeRecord());
                EXPECT_FALSE(set.removeRecord());
            }
        }
        EXPECT_EQ(ids(set), left);
        for (bool more = set.moveFirst(); more; more = set.moveNext())
            ASSERT_TRUE(set.removeRecord());
        EXPECT_EQ(ids(set), Ids{});
    }
    EXPECT_EQ(walk(*table), std::vector<uint32_t>{});
}

// An update may move the current record to a new number at the end: the walk neither meets it
// again nor loses its place, and the set stays on the moved record.
TEST_F(RecordSetTest, UpdatingWhileWalkingVisitsEveryRecordOnce) {
    for (bool compact : {false, true}) {
        auto table = makeFiles(compact ? L"C" : L"F", compact);
        RecordSet set = table->openRecordSet();
        for (uint32_t id = 1; id <= 6; ++id)
            add(set, id, id % 2, L"name");
        CriteriaEvaluator inDir(L"[PATHID] == 1");
        CriteriaEvaluator everything(L"[ID] > 0");
        for (CriteriaEvaluator* criteria : {&everything, &inDir}) {
            ASSERT_TRUE(set.select(criteria, true));
            const Ids before = ids(set);
            Ids seen;
            for (bool more = set.moveFirst(); more; more = set.moveNext()) {
                seen.push_back(set.getUInt32(L"ID"));
                // A longer name moves the record in the fixed encoding too.
                const std::wstring longer = std::wstring(set.getString(L"NAME")) + L"+";
                ASSERT_TRUE(set.setString(L"NAME", longer.c_str()));
                ASSERT_TRUE(set.setUInt64(L"SIZE", set.getUInt64(L"SIZE") + 1));
                ASSERT_TRUE(set.updateRecord());
                ASSERT_TRUE(set.updateRecord());  // the moved record, not the freed number
            }
            EXPECT_EQ(seen, before) << "compact " << compact;
            EXPECT_EQ(sorted(ids(set)), sorted(before));
        }
        // The odd records were changed by both walks.
        ASSERT_TRUE(set.select(&inDir, true));
        ASSERT_TRUE(set.moveFirst());
        EXPECT_EQ(set.getUInt64(L"SIZE"), 2u);
        EXPECT_STREQ(set.getString(L"NAME"), L"name++");
        // Updated and then removed: the record goes, not the number it had before.
        ASSERT_TRUE(set.updateRecord());
        ASSERT_TRUE(set.removeRecord());
        EXPECT_EQ(walk(*table).size(), 5u);

        // A key changed in place and back again: the index walk still returns the record once.
        CriteriaEvaluator inDir3(L"[PATHID] == 3");
        ASSERT_TRUE(set.moveFirst());
        const uint32_t id = set.getUInt32(L"ID");
        for (uint32_t pathId : {3u, 1u, 3u, 1u}) {
            ASSERT_TRUE(set.setUInt32(L"PATHID", pathId));
            ASSERT_TRUE(set.updateRecord());
        }
        ASSERT_TRUE(set.select(&inDir3, true));
        EXPECT_EQ(ids(set), Ids{});
        ASSERT_TRUE(set.select(&inDir, true));
        const Ids again = ids(set);
        EXPECT_EQ(std::count(again.begin(), again.end(), id), 1) << "compact " << compact;
    }
}

// One evaluator, its tree reused record after record and its variables changed between walks,
// selects exactly the records a fresh parse of the text accepts, with and without the index.
TEST_F(RecordSetTest, ReusedCriteriaAnswerLikeAFreshParse) {
    auto table = makeFiles(L"F");
    RecordSet set = table->openRecordSet();
    std::mt19937 random(7);
    const wchar_t* names[] = {L"a.txt", L"A.TXT", L"b.txt", L"a*", L"?.txt", L"c"};
    for (uint32_t id = 1; id <= 1500; ++id)
        add(set, id, random() % 40, names[random() % std::size(names)]);

    FieldList variables;
    ASSERT_TRUE(variables.addField(L"pathid", FT_UINT32));
    ASSERT_TRUE(variables.addField(L"name", FT_STRING));
    auto* pathId = static_cast<UInt32Field*>(variables.findField(L"pathid"));
    auto* name = static_cast<StringField*>(variables.findField(L"name"));
    const wchar_t* text = L"[PATHID] == pathid && [NAME] == name";
    CriteriaEvaluator byPath(text);
    CriteriaEvaluator walkAll(text);
    for (CriteriaEvaluator* criteria : {&byPath, &walkAll})
        ASSERT_TRUE(criteria->setVariables(&variables));

    FieldList record = recordOf(*table);
    for (int round = 0; round < 30; ++round) {
        pathId->setValue(random() % 40);
        name->setValue(names[random() % std::size(names)]);
        const bool caseSensitive = round % 3 == 0;
        Ids expected;
        for (uint32_t n : walk(*table)) {
            ASSERT_TRUE(table->readRecord(n, record));
            SyntaxAnalyzer fresh;
            SyntaxValue result;
            ASSERT_FALSE(fresh.parse(text, &record, &variables, result, caseSensitive));
            if (result.number != 0)
                expected.push_back(number(record, L"ID"));
        }
        ASSERT_TRUE(byPath.setKeyHint(hint(L"PATHID", pathId->getValue())));
        ASSERT_TRUE(set.select(&byPath, caseSensitive));
        EXPECT_EQ(sorted(ids(set)), expected) << round;
        ASSERT_TRUE(set.select(&walkAll, caseSensitive));
        EXPECT_EQ(ids(set), expected) << round;
    }
}

TEST(CriteriaEvaluatorTest, BindsCollectsItsHintAndMatchesEveryTrueNumber) {
    FieldList record;
    ASSERT_TRUE(record.addField(L"A", FT_UINT64));
    auto* a = static_cast<UInt64Field*>(record.findField(L"A"));
    CriteriaEvaluator invalid(nullptr);
    EXPECT_EQ(invalid.getText(), nullptr);
    EXPECT_FALSE(invalid.setRecord(&record));
    EXPECT_EQ(invalid.evaluate(&record, nullptr, false), -1);

    CriteriaEvaluator equal(L"[A] == 5");
    EXPECT_EQ(equal.getKeyHint(), nullptr);  // no record to parse against yet
    ASSERT_TRUE(equal.setRecord(&record));
    const SyntaxValue* hint = equal.getKeyHint();
    ASSERT_NE(hint, nullptr);
    EXPECT_STREQ(hint->name(), L"A");
    EXPECT_EQ(hint->number, 5);
    a->setValue(5);
    EXPECT_EQ(equal.evaluate(nullptr, nullptr, false), 1);  // the bound record

    // evaluate shows the low 32 bits; a match needs only a true number.
    CriteriaEvaluator value(L"[A]");
    for (uint64_t v : {1ull << 32, ~0ull, 0ull}) {
        a->setValue(v);
        EXPECT_EQ(value.evaluate(&record, nullptr, false), static_cast<int32_t>(v));
        EXPECT_EQ(value.matches(&record, false), v != 0);
    }

    // A hint named like a bound variable may be the variable's; text that does not parse has
    // none and fails every evaluation.
    FieldList variables;
    ASSERT_TRUE(variables.addField(L"A", FT_UINT32));
    CriteriaEvaluator ambiguous(L"A == 3");
    CriteriaEvaluator broken(L"[B] == 1");
    for (CriteriaEvaluator* criteria : {&ambiguous, &broken}) {
        ASSERT_TRUE(criteria->setVariables(&variables));
        ASSERT_TRUE(criteria->setRecord(&record));
        EXPECT_EQ(criteria->getKeyHint(), nullptr);
    }
    EXPECT_EQ(broken.evaluate(&record, nullptr, false), -1);
}
