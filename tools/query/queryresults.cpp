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

QueryResults::QueryResults(QueryOutput output, bool nulTerminated, bool listing, FILE* out)
    : output_(output), nulTerminated_(nulTerminated), listing_(listing), out_(out) {}

void QueryResults::add(const FoundEntry& entry) {
    ++count_;
    if (output_ == QueryOutput::Count)
        return;
    if (listing_)
        listed_.push_back(entry);
    else
        print(entry);
}

void QueryResults::print(const FoundEntry& entry) {
    const std::string line = output_ == QueryOutput::Json ? jsonLine(entry)
                             : listing_                   ? listingRow(entry)
                                                          : std::string();
    const std::string& text = output_ == QueryOutput::Lines && !listing_ ? entry.path : line;
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc(nulTerminated_ ? '\0' : '\n', out_);
}

size_t QueryResults::finish() {
    if (output_ == QueryOutput::Count) {
        std::fprintf(out_, "%zu\n", count_);
    } else if (listing_) {
        std::sort(listed_.begin(), listed_.end(),
                  [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
        for (const FoundEntry& entry : listed_)
            print(entry);
    }
    return count_;
}
