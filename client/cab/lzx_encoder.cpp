#include "lzx_encoder.h"

#include "huffman.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace cab::lzx {

namespace {

constexpr int kNumChars = 256;
constexpr int kPositionSlots = 50; // for a 2^21 window
constexpr int kMainSymbols = kNumChars + kPositionSlots * 8;
constexpr int kLengthSymbols = 249;
constexpr int kAlignedSymbols = 8;
constexpr int kPretreeSymbols = 20;
constexpr int kPrimaryLengths = 7;
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr std::uint32_t kMaxOffset = kWindowSize - 3;
constexpr int kMaxMainCodeLength = 16;     // lengths are sent modulo 17
constexpr int kMaxPretreeCodeLength = 15;  // 4-bit length fields
constexpr int kMaxAlignedCodeLength = 7;   // 3-bit length fields
constexpr std::uint32_t kE8Frames = 32768; // decoders translate only this many frames

enum BlockType { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

struct SlotTable {
    std::array<std::uint8_t, kPositionSlots> extra{};
    std::array<std::uint32_t, kPositionSlots> base{};
    constexpr SlotTable() {
        std::uint32_t b = 0;
        for (int i = 0; i < kPositionSlots; ++i) {
            extra[i] = static_cast<std::uint8_t>(i < 4 ? 0 : std::min(i / 2 - 1, 17));
            base[i] = b;
            b += 1u << extra[i];
        }
    }
};
constexpr SlotTable kSlots;
static_assert(kSlots.base[kPositionSlots - 1] + (1u << 17) == kWindowSize);

// Position slot of a formatted offset (offset + 2, or 0..2 for the repeats).
inline int SlotOf(std::uint32_t formatted) {
    if (formatted < 4) return static_cast<int>(formatted);
    if (formatted >= kSlots.base[36]) return 36 + static_cast<int>((formatted - kSlots.base[36]) >> 17);
    int high = std::bit_width(formatted) - 1;
    return 2 * high + static_cast<int>((formatted >> (high - 1)) & 1);
}

// LZX packs bits MSB-first into 16-bit little-endian words.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void Put(std::uint32_t value, int bits) {
        if (bits == 0) return;
        acc_ = (acc_ << bits) | (value & ((std::uint64_t(1) << bits) - 1));
        count_ += bits;
        while (count_ >= 16) {
            count_ -= 16;
            std::uint16_t w = static_cast<std::uint16_t>(acc_ >> count_);
            out_.push_back(static_cast<std::uint8_t>(w));
            out_.push_back(static_cast<std::uint8_t>(w >> 8));
        }
        acc_ &= (std::uint64_t(1) << count_) - 1;
    }
    int pending() const { return count_; }
    // Pads with zero bits to the next 16-bit boundary.
    void Align() {
        if (count_) Put(0, 16 - count_);
    }

private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t acc_ = 0;
    int count_ = 0;
};

struct Token {
    std::uint16_t length; // 0: literal
    std::uint8_t literal;
    std::uint32_t formatted; // 0..2 repeated offsets, else offset + 2
};

struct Code {
    std::vector<std::uint8_t> len;
    std::vector<std::uint16_t> bits;
    explicit Code(int n) : len(n), bits(n) {}
    void Build(std::span<const std::uint32_t> freq, int maxLength) {
        BuildCodeLengths(freq, maxLength, len);
        AssignCodes(len, bits);
    }
    void Put(BitWriter& w, int sym) const { w.Put(bits[sym], len[sym]); }
};

// Sends code lengths as deltas from the previous block's lengths, with runs,
// through a pretree of its own.
void WriteLengths(BitWriter& w, const std::uint8_t* prev, const std::uint8_t* cur, int n) {
    struct Item {
        std::uint8_t sym, extraBits, extra, follow;
    };
    std::vector<Item> items;
    auto delta = [&](int i) { return static_cast<std::uint8_t>((prev[i] - cur[i] + 17) % 17); };
    for (int i = 0; i < n;) {
        int run = 1;
        while (i + run < n && cur[i + run] == cur[i]) ++run;
        if (cur[i] == 0 && run >= 20) {
            int take = std::min(run, 51);
            items.push_back({18, 5, static_cast<std::uint8_t>(take - 20), 0});
            i += take;
        } else if (cur[i] == 0 && run >= 4) {
            int take = std::min(run, 19);
            items.push_back({17, 4, static_cast<std::uint8_t>(take - 4), 0});
            i += take;
        } else if (run >= 4) {
            int take = std::min(run, 5);
            items.push_back({19, 1, static_cast<std::uint8_t>(take - 4), delta(i)});
            i += take;
        } else {
            items.push_back({delta(i), 0, 0, 0});
            ++i;
        }
    }
    std::array<std::uint32_t, kPretreeSymbols> freq{};
    for (const Item& it : items) {
        ++freq[it.sym];
        if (it.sym == 19) ++freq[it.follow];
    }
    Code pre(kPretreeSymbols);
    pre.Build(freq, kMaxPretreeCodeLength);
    for (int s = 0; s < kPretreeSymbols; ++s) w.Put(pre.len[s], 4);
    for (const Item& it : items) {
        pre.Put(w, it.sym);
        w.Put(it.extra, it.extraBits);
        if (it.sym == 19) pre.Put(w, it.follow);
    }
}

} // namespace

struct Encoder::Impl {
    EncoderOptions opt;
    bool headerWritten = false;
    std::uint32_t frameIndex = 0;
    std::uint64_t streamPos = 0; // bytes encoded so far
    std::uint32_t R[3] = {1, 1, 1};
    std::array<std::uint8_t, kMainSymbols> mainPrev{};
    std::array<std::uint8_t, kLengthSymbols> lengthPrev{};

    // History: buf[0] holds stream byte `base`.
    std::vector<std::uint8_t> buf;
    std::uint64_t base = 0;
    // Candidates are kept in hash buckets of kWays recent positions each
    // (newest first). Unlike a chain, a bucket's candidates can be fetched
    // from memory in parallel, which matters with a 2 MB window.
    static constexpr int kHashBits = 15;
    static constexpr int kWays = 32;
    static constexpr int kNearHashBits = 14;
    // Length-3 matches pay only over short distances: they come from a
    // one-entry-per-hash table instead of the buckets.
    static constexpr std::uint32_t kNearDistance = 1u << 14;
    std::vector<std::uint32_t> head; // kWays per bucket: stream position + 1, 0 = empty
    std::vector<std::uint32_t> near;
    // Buckets forget a position after 32 newer ones with the same hash, long
    // before 2 MB have gone by. Every 16th position also goes into a table
    // keyed by 8 bytes, which remembers far repeats across the whole window.
    static constexpr int kFarBits = 18;
    static constexpr std::uint64_t kFarStep = 16;
    std::vector<std::uint32_t> far;
    std::uint64_t inserted = 0; // next stream position to enter the hash

    std::vector<Token> tokens;
    std::vector<std::uint8_t> translated;
    std::vector<std::uint8_t> scratch[2];
    EncoderStats stats;

    explicit Impl(const EncoderOptions& o) : opt(o) {
        opt.searchDepth = std::clamp(opt.searchDepth, 1, kWays);
        opt.niceLength = std::clamp(opt.niceLength, 3, kMaxMatch);
        // Decoders hold the translation size in a signed 32-bit integer.
        opt.e8TranslationSize = std::min<std::uint32_t>(opt.e8TranslationSize, 0x7FFFFFFF);
        if (opt.compress) {
            buf.reserve(kWindowSize + kWindowSize / 2);
            head.assign(std::size_t(kWays) << kHashBits, 0);
            near.assign(std::size_t(1) << kNearHashBits, 0);
            far.assign(std::size_t(1) << kFarBits, 0);
        }
    }

    void TranslateE8(std::span<const std::uint8_t> frame) {
        translated.assign(frame.begin(), frame.end());
        if (!opt.e8TranslationSize || frameIndex >= kE8Frames || frame.size() <= 10) return;
        const std::int64_t size = opt.e8TranslationSize;
        const std::size_t end = frame.size() - 10;
        for (std::size_t i = 0; i < end;) {
            if (translated[i] != 0xE8) {
                ++i;
                continue;
            }
            const std::int64_t cur = static_cast<std::int64_t>(streamPos + i);
            std::uint8_t* p = &translated[i + 1];
            std::int32_t rel =
                static_cast<std::int32_t>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                          std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
            // Inverse of the decoder's mapping, which is a bijection on [-cur, size).
            if (rel >= -cur && rel < size) {
                std::int64_t abs = rel < size - cur ? rel + cur : rel - size;
                std::uint32_t a = static_cast<std::uint32_t>(static_cast<std::int32_t>(abs));
                p[0] = static_cast<std::uint8_t>(a);
                p[1] = static_cast<std::uint8_t>(a >> 8);
                p[2] = static_cast<std::uint8_t>(a >> 16);
                p[3] = static_cast<std::uint8_t>(a >> 24);
            }
            i += 5;
        }
    }

    void WriteStreamHeader(BitWriter& w) const {
        if (headerWritten) return;
        if (opt.e8TranslationSize) {
            w.Put(1, 1);
            w.Put(opt.e8TranslationSize >> 16, 16);
            w.Put(opt.e8TranslationSize & 0xFFFF, 16);
        } else {
            w.Put(0, 1);
        }
    }

    void WriteUncompressed(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) const {
        out.clear();
        BitWriter w(out);
        WriteStreamHeader(w);
        w.Put(kUncompressed, 3);
        w.Put(static_cast<std::uint32_t>(data.size()), 24);
        // The decoder skips 1..16 bits here, never 0.
        if (w.pending() == 0)
            w.Put(0, 16);
        else
            w.Align();
        for (std::uint32_t r : R)
            for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(r >> (8 * k)));
        out.insert(out.end(), data.begin(), data.end());
        if (data.size() & 1) out.push_back(0);
    }

    // --- match finding -------------------------------------------------

    const std::uint8_t* At(std::uint64_t pos) const { return buf.data() + (pos - base); }

    static std::uint32_t Load32(const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static std::uint32_t Hash4(const std::uint8_t* p) {
        return (Load32(p) * 2654435761u) >> (32 - kHashBits);
    }
    static std::uint64_t Load64(const std::uint8_t* p) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    static std::uint32_t HashFar(const std::uint8_t* p) {
        return static_cast<std::uint32_t>((Load64(p) * 0x9E3779B97F4A7C15ull) >> (64 - kFarBits));
    }
    static std::uint32_t Hash3(const std::uint8_t* p) {
        return ((Load32(p) & 0xFFFFFF) * 2654435761u) >> (32 - kNearHashBits);
    }

    // Positions enter the buckets once 4 bytes are known; the last 3 bytes of
    // a frame wait for the next frame.
    void Insert(std::uint64_t pos) {
        const std::uint8_t* p = At(pos);
        std::uint32_t* bucket = &head[std::size_t(Hash4(p)) * kWays];
        std::memmove(bucket + 1, bucket, (kWays - 1) * sizeof *bucket);
        bucket[0] = static_cast<std::uint32_t>(pos + 1);
        near[Hash3(p)] = static_cast<std::uint32_t>(pos + 1);
    }

    void InsertUpTo(std::uint64_t pos, std::uint64_t end) {
        std::uint64_t stop = std::min(pos, end >= 3 ? end - 3 : 0);
        for (; inserted < stop; ++inserted) {
            Insert(inserted);
            if (inserted % kFarStep == 0 && inserted + 8 <= end)
                far[HashFar(At(inserted))] = static_cast<std::uint32_t>(inserted + 1);
        }
    }

    static int MatchLength(const std::uint8_t* a, const std::uint8_t* b, int limit) {
        int n = 0;
        while (n + 8 <= limit) {
            std::uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) {
                int bit = std::endian::native == std::endian::little ? std::countr_zero(x ^ y)
                                                                     : std::countl_zero(x ^ y);
                return n + (bit >> 3);
            }
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

    // A match this long is searched less and not compared with the next position's.
    static constexpr int kGoodLength = 32;
    static constexpr int kMaxLazyLength = 48;

    struct Match {
        int length = 0;
        std::uint32_t formatted = 0;
        int score = 0;
    };

    // Rough saving of a match in bits against coding its bytes as literals.
    static int Score(int length, std::uint32_t formatted) {
        int cost = 9 + (length - kMinMatch >= kPrimaryLengths ? 5 : 0);
        if (formatted >= 3) cost += kSlots.extra[SlotOf(formatted)] + 2;
        return length * 8 - cost;
    }

    Match FindMatch(std::uint64_t pos, int limit) {
        Match best;
        if (limit < kMinMatch) return best;
        const std::uint8_t* cur = At(pos);
        for (int i = 0; i < 3; ++i) {
            if (R[i] > pos) continue;
            int len = MatchLength(cur - R[i], cur, limit);
            if (len >= kMinMatch) {
                int s = Score(len, static_cast<std::uint32_t>(i));
                if (s > best.score) {
                    best = {len, static_cast<std::uint32_t>(i), s};
                }
            }
        }
        if (best.length >= opt.niceLength || limit < 3) return best;
        if (limit >= 4) {
            int longest = std::max(best.length, 3);
            int depth = best.length >= kGoodLength ? opt.searchDepth / 4 + 1 : opt.searchDepth;
            const std::uint32_t* bucket = &head[std::size_t(Hash4(cur)) * kWays];
            const std::uint32_t cur4 = Load32(cur);
            for (int w = 0; w < depth; ++w) {
                std::uint32_t cand = bucket[w];
                if (!cand) break;
                std::uint64_t cpos = cand - 1;
                std::uint64_t dist = pos - cpos;
                if (cpos >= pos || dist > kMaxOffset) break;
                const std::uint8_t* c = At(cpos);
                if (c[longest] != cur[longest] || Load32(c) != cur4) continue;
                int len = MatchLength(c, cur, limit);
                if (len > longest) {
                    longest = len;
                    std::uint32_t formatted = static_cast<std::uint32_t>(dist + 2);
                    int s = Score(len, formatted);
                    if (s > best.score) best = {len, formatted, s};
                    if (len >= opt.niceLength || len >= limit) return best;
                }
            }
        }
        if (best.length < kGoodLength && limit >= 8) {
            std::uint32_t cand = far[HashFar(cur)];
            if (cand && cand - 1 < pos && pos - (cand - 1) <= kMaxOffset) {
                const std::uint8_t* c = At(cand - 1);
                if (Load64(c) == Load64(cur)) {
                    int len = MatchLength(c, cur, limit);
                    std::uint32_t formatted = static_cast<std::uint32_t>(pos - (cand - 1) + 2);
                    int s = Score(len, formatted);
                    if (s > best.score) best = {len, formatted, s};
                }
            }
        }
        if (best.length < 3) {
            std::uint32_t cand = near[Hash3(cur)];
            if (cand && cand - 1 < pos && pos - (cand - 1) <= kNearDistance) {
                const std::uint8_t* c = At(cand - 1);
                if (c[0] == cur[0] && c[1] == cur[1] && c[2] == cur[2]) {
                    std::uint32_t formatted = static_cast<std::uint32_t>(pos - (cand - 1) + 2);
                    int s = Score(3, formatted);
                    if (s > best.score) best = {3, formatted, s};
                }
            }
        }
        return best;
    }

    void AddFrameToHistory(std::span<const std::uint8_t> frame) {
        if (buf.size() + frame.size() > buf.capacity()) {
            std::size_t keep = std::min<std::size_t>(buf.size(), kWindowSize);
            std::size_t drop = buf.size() - keep;
            std::memmove(buf.data(), buf.data() + drop, keep);
            buf.resize(keep);
            base += drop;
        }
        buf.insert(buf.end(), frame.begin(), frame.end());
    }

    void Parse(std::uint64_t start, std::uint64_t end) {
        tokens.clear();
        std::uint64_t pos = start;
        auto literal = [&](std::uint64_t p) { tokens.push_back({0, *At(p), 0}); };
        while (pos < end) {
            int limit = static_cast<int>(std::min<std::uint64_t>(end - pos, kMaxMatch));
            InsertUpTo(pos, end);
            Match m = FindMatch(pos, limit);
            if (m.score <= 0) {
                literal(pos++);
                continue;
            }
            // Lazy evaluation: a better match one byte later wins over this one.
            while (m.length < kMaxLazyLength && pos + 1 < end) {
                int nextLimit = static_cast<int>(std::min<std::uint64_t>(end - pos - 1, kMaxMatch));
                InsertUpTo(pos + 1, end);
                Match next = FindMatch(pos + 1, nextLimit);
                if (next.score <= m.score) break;
                literal(pos++);
                m = next;
            }
            tokens.push_back({static_cast<std::uint16_t>(m.length), 0, m.formatted});
            if (m.formatted >= 3) {
                R[2] = R[1];
                R[1] = R[0];
                R[0] = m.formatted - 2;
            } else if (m.formatted == 1) {
                std::swap(R[0], R[1]);
            } else if (m.formatted == 2) {
                std::swap(R[0], R[2]);
            }
            pos += static_cast<std::uint64_t>(m.length);
        }
        InsertUpTo(end, end);
    }

    // --- block output ----------------------------------------------------

    struct Trees {
        Code main{kMainSymbols};
        Code length{kLengthSymbols};
        Code aligned{kAlignedSymbols};
        bool alignedPays = false;
    };

    void BuildTrees(Trees& t) const {
        std::array<std::uint32_t, kMainSymbols> mainFreq{};
        std::array<std::uint32_t, kLengthSymbols> lengthFreq{};
        std::array<std::uint32_t, kAlignedSymbols> alignedFreq{};
        std::uint64_t alignedCount = 0;
        for (const Token& tk : tokens) {
            if (tk.length == 0) {
                ++mainFreq[tk.literal];
                continue;
            }
            int slot = SlotOf(tk.formatted);
            int header = std::min(tk.length - kMinMatch, kPrimaryLengths);
            ++mainFreq[kNumChars + slot * 8 + header];
            if (header == kPrimaryLengths) ++lengthFreq[tk.length - kMinMatch - kPrimaryLengths];
            if (tk.formatted >= 3 && kSlots.extra[slot] >= 3) {
                ++alignedFreq[(tk.formatted - kSlots.base[slot]) & 7];
                ++alignedCount;
            }
        }
        t.main.Build(mainFreq, kMaxMainCodeLength);
        t.length.Build(lengthFreq, kMaxMainCodeLength);
        t.aligned.Build(alignedFreq, kMaxAlignedCodeLength);
        // Aligned blocks replace 3 raw bits per far offset by a Huffman code,
        // at the price of 24 bits of tree.
        std::uint64_t alignedBits = 24;
        for (int s = 0; s < kAlignedSymbols; ++s)
            alignedBits += std::uint64_t(alignedFreq[s]) * t.aligned.len[s];
        t.alignedPays = alignedCount > 0 && alignedBits < alignedCount * 3;
    }

    void WriteCompressed(const Trees& t, BlockType type, std::uint32_t size,
                         std::vector<std::uint8_t>& out) const {
        out.clear();
        BitWriter w(out);
        WriteStreamHeader(w);
        w.Put(type, 3);
        w.Put(size, 24);
        if (type == kAligned)
            for (int s = 0; s < kAlignedSymbols; ++s) w.Put(t.aligned.len[s], 3);
        WriteLengths(w, mainPrev.data(), t.main.len.data(), kNumChars);
        WriteLengths(w, mainPrev.data() + kNumChars, t.main.len.data() + kNumChars, kMainSymbols - kNumChars);
        WriteLengths(w, lengthPrev.data(), t.length.len.data(), kLengthSymbols);
        for (const Token& tk : tokens) {
            if (tk.length == 0) {
                t.main.Put(w, tk.literal);
                continue;
            }
            int slot = SlotOf(tk.formatted);
            int header = std::min(tk.length - kMinMatch, kPrimaryLengths);
            t.main.Put(w, kNumChars + slot * 8 + header);
            if (header == kPrimaryLengths) t.length.Put(w, tk.length - kMinMatch - kPrimaryLengths);
            if (tk.formatted < 3) continue;
            int extra = kSlots.extra[slot];
            std::uint32_t footer = tk.formatted - kSlots.base[slot];
            if (type == kAligned && extra >= 3) {
                w.Put(footer >> 3, extra - 3);
                t.aligned.Put(w, static_cast<int>(footer & 7));
            } else {
                w.Put(footer, extra);
            }
        }
        w.Align();
    }

    void EncodeFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out) {
        if (frame.size() > kFrameSize) throw std::invalid_argument("LZX frame larger than 32 KB");
        TranslateE8(frame);
        if (!opt.compress || frame.empty()) {
            WriteUncompressed(translated, out);
            ++stats.uncompressedBlocks;
        } else {
            AddFrameToHistory(translated);
            Parse(streamPos, streamPos + frame.size());
            Trees t;
            BuildTrees(t);
            BlockType type = t.alignedPays ? kAligned : kVerbatim;
            WriteCompressed(t, type, static_cast<std::uint32_t>(frame.size()), scratch[0]);
            // Incompressible data goes out stored; the repeated offsets the
            // parse produced are sent with it, so both sides stay in step.
            WriteUncompressed(translated, scratch[1]);
            if (scratch[0].size() < scratch[1].size()) {
                std::copy(t.main.len.begin(), t.main.len.end(), mainPrev.begin());
                std::copy(t.length.len.begin(), t.length.len.end(), lengthPrev.begin());
                out.swap(scratch[0]);
                ++(type == kAligned ? stats.alignedBlocks : stats.verbatimBlocks);
            } else {
                out.swap(scratch[1]);
                ++stats.uncompressedBlocks;
            }
        }
        headerWritten = true;
        streamPos += frame.size();
        ++frameIndex;
    }
};

Encoder::Encoder(const EncoderOptions& options) : impl_(std::make_unique<Impl>(options)) {}
Encoder::~Encoder() = default;

const EncoderStats& Encoder::stats() const { return impl_->stats; }

void Encoder::EncodeFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out) {
    impl_->EncodeFrame(frame, out);
}

} // namespace cab::lzx
