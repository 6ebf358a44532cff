#pragma once

// Symbols: the global symbol table and the local labels by scope.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
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
    // Symbol names and command words are short: up to eight bytes are read
    // as one word (a name of four to eight bytes as two overlapping
    // four-byte loads) and folded in by one multiplication, whose high half
    // is folded back into the low bits the tables index with.
    std::size_t operator()(std::string_view s) const noexcept {
        const char* p = s.data();
        std::size_t n = s.size();
        std::uint64_t h = n * 0x9E3779B97F4A7C15ull;
        while (n > 8) {
            h = Fold(h ^ Load64(p));
            p += 8;
            n -= 8;
        }
        std::uint64_t w = 0;
        if (n >= 4)
            w = (static_cast<std::uint64_t>(Load32(p)) << 32) | Load32(p + n - 4);
        else if (n > 0)
            w = (static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << 16) |
                (static_cast<std::uint64_t>(static_cast<unsigned char>(p[n >> 1])) << 8) |
                static_cast<unsigned char>(p[n - 1]);
        return static_cast<std::size_t>(Fold(h ^ w));
    }

private:
    static std::uint64_t Fold(std::uint64_t x) {
        x *= 0xD6E8FEB86659FD93ull;
        return x ^ (x >> 32);
    }
    static std::uint64_t Load64(const char* p) {
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static std::uint32_t Load32(const char* p) {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
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
// addresses, in blocks of a fixed power-of-two size so that an entry's
// index finds it with a shift and a mask; an open-addressing index with part
// of each name's hash finds them by name. Large programs have tens of
// thousands of labels, and a lookup here touches one index slot and the
// entry instead of a chain of nodes.
class SymbolMap {
public:
    using Pair = std::pair<const std::string, Symbol>;
    using value_type = Pair;

    template <bool Const> class Iter {
    public:
        using Entry = std::conditional_t<Const, const Pair, Pair>;
        using Map = std::conditional_t<Const, const SymbolMap, SymbolMap>;
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using pointer = Entry*;
        using reference = Entry&;
        Iter() = default;
        Iter(Map* map, std::size_t index) : map_(map), index_(index) {}
        template <bool C = Const, typename = std::enable_if_t<!C>> operator Iter<true>() const {
            return Iter<true>(map_, index_);
        }
        Entry& operator*() const { return map_->Slot(index_); }
        Entry* operator->() const { return &map_->Slot(index_); }
        Iter& operator++() {
            ++index_;
            return *this;
        }
        Iter operator++(int) {
            Iter old = *this;
            ++index_;
            return old;
        }
        bool operator==(const Iter& o) const { return index_ == o.index_; }
        bool operator!=(const Iter& o) const { return index_ != o.index_; }
        std::size_t Index() const { return index_; }

    private:
        Map* map_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;

    SymbolMap() = default;
    SymbolMap(const SymbolMap&) = delete;
    SymbolMap& operator=(const SymbolMap&) = delete;
    ~SymbolMap() { clear(); }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, count_); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, count_); }
    std::size_t size() const { return count_; }
    // Entries by their place in creation order.
    value_type& At(std::size_t index) { return Slot(index); }
    std::size_t IndexOf(iterator it) { return it.Index(); }
    bool empty() const { return count_ == 0; }
    void clear() {
        for (std::size_t i = 0; i < count_; ++i) Slot(i).~value_type();
        for (value_type* block : blocks_) ::operator delete(block);
        blocks_.clear();
        count_ = 0;
        hashes_.clear();
        slots_.clear();
    }

    iterator find(std::string_view name) {
        if (slots_.empty()) return end();
        const std::size_t h = StringHash{}(name);
        const std::uint32_t tag = Tag(h);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const IndexSlot& slot = slots_[i];
            if (slot.tag == 0) return end();
            if (slot.tag == tag && Slot(slot.index).first == name) return iterator(this, slot.index);
        }
    }

    // The entry of `name`, made (with a default symbol) when there is none;
    // true when made. One hash and one probe sequence for both.
    std::pair<iterator, bool> find_or_add(std::string_view name) {
        // At most half the slots in use keeps the probe sequences short.
        if ((count_ + 1) * 2 > slots_.size()) Grow();
        const std::size_t h = StringHash{}(name);
        const std::uint32_t tag = Tag(h);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            IndexSlot& slot = slots_[i];
            if (slot.tag == 0) {
                const std::size_t index = count_;
                if ((index & kBlockMask) == 0)
                    blocks_.push_back(
                        static_cast<value_type*>(::operator new(kBlockSize * sizeof(value_type))));
                new (&Slot(index)) value_type(std::piecewise_construct, std::forward_as_tuple(name),
                                              std::forward_as_tuple());
                ++count_;
                hashes_.push_back(h);
                slot = IndexSlot{tag, static_cast<std::uint32_t>(index)};
                return {iterator(this, index), true};
            }
            if (slot.tag == tag && Slot(slot.index).first == name) return {iterator(this, slot.index), false};
        }
    }

    // Room for `count` names in all without growing the index on the way.
    void Reserve(std::size_t count) {
        std::size_t slots = slots_.empty() ? 256 : slots_.size();
        while (slots < 2 * count) slots *= 2;
        hashes_.reserve(count);
        blocks_.reserve((count >> kBlockBits) + 1);
        if (slots == slots_.size()) return;
        slots_.assign(slots, IndexSlot{});
        for (std::size_t i = 0; i < count_; ++i) Place(i);
    }

private:
    static constexpr std::size_t kBlockBits = 8;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockBits;
    static constexpr std::size_t kBlockMask = kBlockSize - 1;

    struct IndexSlot {
        std::uint32_t tag = 0; // 0: free
        std::uint32_t index = 0;
    };
    value_type& Slot(std::size_t index) const { return blocks_[index >> kBlockBits][index & kBlockMask]; }
    static std::uint32_t Tag(std::size_t h) {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(h) >> 32) | 1u;
    }
    void Place(std::size_t index) {
        const std::size_t h = hashes_[index];
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i].tag != 0) i = (i + 1) & mask;
        slots_[i] = IndexSlot{Tag(h), static_cast<std::uint32_t>(index)};
    }
    void Grow() {
        slots_.assign(slots_.empty() ? 256 : slots_.size() * 2, IndexSlot{});
        for (std::size_t i = 0; i < count_; ++i) Place(i);
    }

    std::vector<value_type*> blocks_; // kBlockSize entries each, the last one filled in part
    std::size_t count_ = 0;
    std::vector<std::size_t> hashes_; // of the names, by entry: growing reads no entry
    std::vector<IndexSlot> slots_;
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
