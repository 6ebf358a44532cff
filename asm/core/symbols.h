#pragma once

// Symbols: the global symbol table and the local labels by scope.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "messages.h"

namespace qorb {

// The messages of a reference to a global symbol or to a local label.
struct ReferenceMessages {
    Msg undefined, mustBeKnown, multiplyDefined, inconstant;
    bool warnUnresolved; // only global symbols warn of an unresolved value
};

struct StringHash {
    using is_transparent = void;
    // FNV-1a: symbol names are short, and the general-purpose string hash
    // costs more than the lookup itself.
    std::size_t operator()(std::string_view s) const noexcept {
        std::uint64_t h = 14695981039346656037ull;
        for (char c : s) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};
} // namespace qorb

#if defined(__GLIBCXX__)
// Keep each entry's hash beside it: a lookup then skips entries by their hash
// instead of hashing their names again on every step of a bucket's chain.
template <> struct std::__is_fast_hash<qorb::StringHash> : std::false_type {};
#endif

namespace qorb {

struct Symbol {
    std::int32_t value = 0;
    std::int32_t refValue = 0; // value the last reference saw (for phasing reports)
    bool defined = false;
    bool known = false;
    bool constant = true;
    // Pass of the last definition; "defined in this pass" compares it with
    // the current pass, so a new pass needs no walk over every symbol.
    unsigned definedInPass = 0;
    bool DefinedInPass(unsigned pass) const { return definedInPass == pass; }
    bool used = false;
    bool multiplyDefined = false;
    bool unknownInPassOne = false;
    bool isSet = false;   // defined by `set` (may be assigned again)
    bool isOther = false; // defined by a label, equ or define (not reusable by set)
    // The symbol clock when its value, known mark or definition last
    // changed (0: never defined); lines that read it before may be stale.
    std::uint32_t changedAt = 0;
};

// Global symbols by name. Entries stay in creation order at stable
// addresses; an open-addressing index with part of each name's hash finds
// them. Large programs have tens of thousands of labels, and a lookup here
// touches one index slot and the entry instead of a chain of nodes.
class SymbolMap {
public:
    using value_type = std::pair<const std::string, Symbol>;
    using iterator = std::deque<value_type>::iterator;
    using const_iterator = std::deque<value_type>::const_iterator;

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    // Entries by their place in creation order.
    value_type& At(std::size_t index) { return entries_[index]; }
    std::size_t IndexOf(iterator it) { return static_cast<std::size_t>(it - entries_.begin()); }
    bool empty() const { return entries_.empty(); }
    void clear() {
        entries_.clear();
        hashes_.clear();
        slots_.clear();
    }

    iterator find(std::string_view name) {
        if (slots_.empty()) return end();
        const std::size_t h = StringHash{}(name);
        const std::uint32_t tag = Tag(h);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.tag == 0) return end();
            if (slot.tag == tag && entries_[slot.index].first == name)
                return entries_.begin() + static_cast<std::ptrdiff_t>(slot.index);
        }
    }

    // The entry of `name`, made (with a default symbol) when there is none;
    // true when made. One hash and one probe sequence for both.
    std::pair<iterator, bool> find_or_add(std::string_view name) {
        // At most half the slots in use keeps the probe sequences short.
        if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
        const std::size_t h = StringHash{}(name);
        const std::uint32_t tag = Tag(h);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.tag == 0) {
                entries_.emplace_back(std::string(name), Symbol{});
                hashes_.push_back(h);
                slot = Slot{tag, static_cast<std::uint32_t>(entries_.size() - 1)};
                return {std::prev(entries_.end()), true};
            }
            if (slot.tag == tag && entries_[slot.index].first == name)
                return {entries_.begin() + static_cast<std::ptrdiff_t>(slot.index), false};
        }
    }

    // Room for `count` names in all without growing the index on the way.
    void Reserve(std::size_t count) {
        std::size_t slots = slots_.empty() ? 256 : slots_.size();
        while (slots < 2 * count) slots *= 2;
        hashes_.reserve(count);
        if (slots == slots_.size()) return;
        slots_.assign(slots, Slot{});
        for (std::size_t i = 0; i < entries_.size(); ++i) Place(i);
    }

private:
    struct Slot {
        std::uint32_t tag = 0; // 0: free
        std::uint32_t index = 0;
    };
    static std::uint32_t Tag(std::size_t h) {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(h) >> 32) | 1u;
    }
    void Place(std::size_t index) {
        const std::size_t h = hashes_[index];
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i].tag != 0) i = (i + 1) & mask;
        slots_[i] = Slot{Tag(h), static_cast<std::uint32_t>(index)};
    }
    void Grow() {
        slots_.assign(slots_.empty() ? 256 : slots_.size() * 2, Slot{});
        for (std::size_t i = 0; i < entries_.size(); ++i) Place(i);
    }

    std::deque<value_type> entries_;
    std::vector<std::size_t> hashes_; // of the names, by entry: growing reads no entry
    std::vector<Slot> slots_;
};

// Local labels by scope and number. Scopes are numbered in source order and
// every pass walks them in that order, so the labels are kept in creation
// order with one list head per scope: a pass then reads both tables
// front to back instead of jumping around a hash index. The heads cost four
// bytes per scope up to the last scope that has local labels; scopes are
// bounded by the lines a pass may read.
class LocalLabels {
public:
    // The label `number`$ of scope `scope`. Lines refer to the labels of the
    // current scope over and over; the last entry found per number answers
    // those at once.
    Symbol& Get(std::uint64_t scope, unsigned number) {
        number &= 0xFF;
        Recent& r = recent_[number];
        if (r.symbol && r.scope == scope) return *r.symbol;
        Symbol& s = Find(static_cast<std::size_t>(scope), number);
        r = Recent{scope, &s};
        return s;
    }
    void clear() {
        entries_.clear();
        heads_.clear();
        recent_.fill(Recent{});
    }

private:
    struct Entry {
        Symbol symbol;
        std::uint32_t next = 0; // next entry of the same scope + 1; 0: none
        std::uint8_t number = 0;
    };
    struct Recent {
        std::uint64_t scope = 0;
        Symbol* symbol = nullptr;
    };
    Symbol& Find(std::size_t scope, unsigned number) {
        if (scope >= heads_.size()) heads_.resize(scope + 1, 0);
        for (std::uint32_t i = heads_[scope]; i != 0; i = entries_[i - 1].next)
            if (entries_[i - 1].number == number) return entries_[i - 1].symbol;
        entries_.push_back(Entry{Symbol{}, heads_[scope], static_cast<std::uint8_t>(number)});
        heads_[scope] = static_cast<std::uint32_t>(entries_.size());
        return entries_.back().symbol;
    }

    std::deque<Entry> entries_;
    std::vector<std::uint32_t> heads_;
    std::array<Recent, 256> recent_{};
};

} // namespace qorb
