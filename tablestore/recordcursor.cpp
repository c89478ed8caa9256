#include "recordcursor.h"

#include "table.h"

RecordCursor::RecordCursor(Table& table) : table_(table) {
    record_.resetFrom(table.schema());
}

void RecordCursor::select(CriteriaEvaluator* criteria, bool caseSensitive) {
    criteria_ = nullptr;
    index_ = nullptr;
    walk_ = Walk::NotStarted;
    caseSensitive_ = caseSensitive;
    // Criteria that could not be made hold for no record; an empty text holds for every one.
    if (criteria == nullptr || (criteria->isValid() && criteria->getText()[0] == L'\0'))
        return;
    criteria_ = criteria;
    criteria_->setRecord(&record_);
    const SyntaxValue* hint = criteria_->getKeyHint();
    index_ = hint != nullptr ? table_.findIndex(hint->name()) : nullptr;
    if (index_ == nullptr)
        return;
    if (hint->type == SyntaxValue::NUMERIC)
        key_.assignNumber(static_cast<uint64_t>(hint->number));
    else
        key_.assignText(hint->text());
}

bool RecordCursor::moveFirst() {
    walk_ = Walk::Walking;
    hasCurrent_ = false;
    damaged_ = false;
    if (index_ != nullptr)
        return settle(table_.firstCandidate(*index_, key_.text(), position_, next_));
    end_ = table_.numberEnd();
    return settle(table_.firstRecordId(position_) && position_ < end_);
}

bool RecordCursor::moveNext() {
    if (walk_ == Walk::NotStarted)
        return moveFirst();
    hasCurrent_ = false;
    return walk_ == Walk::Walking && settle(step());
}

bool RecordCursor::step() {
    if (index_ != nullptr)
        return table_.nextCandidate(*index_, position_, next_);
    return table_.nextRecordId(position_) && position_ < end_;
}

bool RecordCursor::settle(bool found) {
    for (; found; found = step()) {
        // A record that cannot be read ends the walk.
        if (!table_.readRecord(position_, record_)) {
            damaged_ = true;
            break;
        }
        if (criteria_ == nullptr || criteria_->matches(&record_, caseSensitive_)) {
            current_ = position_;
            hasCurrent_ = true;
            return true;
        }
    }
    walk_ = Walk::Ended;
    return false;
}

Field* RecordCursor::field(const wchar_t* name, int32_t type) const {
    Field* found = record_.findField(name);
    return found != nullptr && found->type() == type ? found : nullptr;
}

bool RecordCursor::addRecord() {
    return table_.appendRecord(record_);
}

bool RecordCursor::updateRecord() {
    return hasCurrent_ && table_.updateRecord(current_, record_, current_);
}

bool RecordCursor::removeRecord() {
    if (!hasCurrent_ || !table_.removeRecord(current_))
        return false;
    hasCurrent_ = false;
    return true;
}
