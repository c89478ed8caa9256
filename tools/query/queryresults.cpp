#include "queryresults.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace {

// Mode-word bit of a system entry.
constexpr uint32_t kSystemEntry = 0x400;

const char* kindName(FoundEntry::Kind kind) {
    switch (kind) {
        case FoundEntry::Kind::Directory:
            return "directory";
        case FoundEntry::Kind::Other:
            return "other";
        case FoundEntry::Kind::File:
            break;
    }
    return "file";
}

std::string jsonLine(const FoundEntry& entry) {
    nlohmann::ordered_json line;
    line["path"] = entry.path;
    if (entry.kind == FoundEntry::Kind::Directory) {
        line["size"] = nullptr;
        line["attr"] = nullptr;
    } else {
        line["size"] = entry.size;
        line["attr"] = entry.attr;
    }
    line["kind"] = kindName(entry.kind);
    // Names that are not valid UTF-8 (possible on Linux) show U+FFFD where the bad bytes are.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// "d ----            - name", "- 21b6         1234 name".
std::string listingRow(const FoundEntry& entry) {
    char head[48];
    if (entry.kind == FoundEntry::Kind::Directory) {
        std::snprintf(head, sizeof head, "d ---- %12s ", "-");
    } else {
        std::snprintf(head, sizeof head, "%c %04x %12llu ",
                      entry.kind == FoundEntry::Kind::File ? '-' : 's',
                      static_cast<unsigned>(entry.attr & 0xFFFF),
                      static_cast<unsigned long long>(entry.size));
    }
    return head + entry.name;
}

}  // namespace

FoundEntry::Kind kindOfFile(uint32_t attr) {
    return (attr & kSystemEntry) != 0 ? FoundEntry::Kind::Other : FoundEntry::Kind::File;
}

QueryResults::QueryResults(QueryOutput output, bool nulTerminated, bool listing)
    : output_(output), nulTerminated_(nulTerminated), listing_(listing) {}

void QueryResults::add(const FoundEntry& entry) {
    ++count_;
    if (output_ == QueryOutput::Count)
        return;
    if (listing_)
        listed_.push_back(entry);
    else
        format(entry);
}

void QueryResults::format(const FoundEntry& entry) {
    if (output_ == QueryOutput::Json)
        text_ += jsonLine(entry);
    else if (listing_)
        text_ += listingRow(entry);
    else
        text_ += entry.path;
    text_ += nulTerminated_ ? '\0' : '\n';
}

size_t QueryResults::print(FILE* out) {
    if (output_ == QueryOutput::Count) {
        std::fprintf(out, "%zu\n", count_);
        return count_;
    }
    std::sort(listed_.begin(), listed_.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    for (const FoundEntry& entry : listed_)
        format(entry);
    std::fwrite(text_.data(), 1, text_.size(), out);
    return count_;
}
