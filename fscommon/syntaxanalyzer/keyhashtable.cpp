#include "keyhashtable.h"

#include <array>
#include <cstdlib>
#include <ctime>

#include "text/casemap.h"

namespace {

// 256 distinct constants below 2^30: the first four fixed, the rest drawn from a fixed
// generator. Tables are built and probed within one run and never stored, so any fixed table of
// distinct values works.
constexpr std::array<uint32_t, 256> makeHashTable() {
    std::array<uint32_t, 256> t{0x0FBD68D3, 0x1C25BC00, 0x1EEC53FA, 0x1C7C0B81};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (size_t i = 4; i < t.size();) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const uint32_t candidate = static_cast<uint32_t>(state >> 34);  // 30 bits
        bool seen = false;
        for (size_t k = 0; k < i; ++k)
            seen = seen || t[k] == candidate;
        if (!seen)
            t[i++] = candidate;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kHashTable = makeHashTable();

constexpr bool allDistinctBelow30Bits() {
    for (size_t i = 0; i < kHashTable.size(); ++i) {
        if (kHashTable[i] >= (1u << 30))
            return false;
        for (size_t k = 0; k < i; ++k) {
            if (kHashTable[k] == kHashTable[i])
                return false;
        }
    }
    return true;
}
static_assert(allDistinctBelow30Bits());

uint32_t timeSeed() {
    // The probe offset is drawn from the standard generator, reseeded with the time.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return static_cast<uint32_t>(std::rand());
}

KeyHashTable::SeedSource seedSource = timeSeed;

}  // namespace

KeyHashTable::KeyHashTable(const std::vector<std::wstring>& keys, bool caseSensitive)
    : seed_(seedSource()), caseSensitive_(caseSensitive) {
    keys_.assign(keys.begin(), keys.end());
    const uint64_t third = 3ull * keys.size();
    uint64_t size = 16;
    if (third >= 16) {
        while (size <= third)
            size *= 2;
    }
    size_ = static_cast<uint32_t>(size);
    mask_ = size_ - 1;
    slots_ = std::make_unique<uint32_t[]>(size_);
    for (uint32_t i = 0; i < size_; ++i)
        slots_[i] = kEmptySlot;
    for (uint32_t i = 0; i < keys_.size(); ++i)
        insert(i);
}

void KeyHashTable::setSeedSource(SeedSource source) {
    seedSource = source ? source : timeSeed;
}

uint32_t KeyHashTable::hash(std::wstring_view s) {
    uint32_t h = 0;
    for (wchar_t c : s)
        h = kHashTable[static_cast<uint32_t>(c) & 0xFF] + 2 * h;
    return h;
}

void KeyHashTable::insert(uint32_t keyIndex) {
    ++count_;
    const uint32_t h = hash(keys_[keyIndex]);
    if (slots_[h & mask_] == kEmptySlot) {
        slots_[h & mask_] = keyIndex;
        return;
    }
    // The table is at most a third full, so an empty slot is always found.
    for (uint32_t k = 1;; ++k) {
        uint32_t& slot = slots_[(h + seed_ + k) & mask_];
        if (slot == kEmptySlot) {
            slot = keyIndex;
            return;
        }
    }
}

bool KeyHashTable::keyEquals(uint32_t keyIndex, std::wstring_view s) const {
    const std::wstring_view key = keys_[keyIndex];
    if (key.size() != s.size())
        return false;
    if (caseSensitive_)
        return key == s;
    for (size_t i = 0; i < s.size(); ++i) {
        if (lowerChar(key[i]) != lowerChar(s[i]))
            return false;
    }
    return true;
}

bool KeyHashTable::contains(std::wstring_view s) const {
    const uint32_t h = hash(s);
    const uint32_t first = slots_[h & mask_];
    // Slots are never emptied, so a key whose home slot is empty was never inserted.
    if (first == kEmptySlot)
        return false;
    if (keyEquals(first, s))
        return true;
    for (uint32_t k = 1;; ++k) {
        const uint32_t slot = slots_[(h + seed_ + k) & mask_];
        if (slot == kEmptySlot)
            return false;
        if (keyEquals(slot, s))
            return true;
    }
}
