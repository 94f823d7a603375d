#include "datafile/grid_scan.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/alloc.h"
#include "common/error_codes.h"
#include "datafile/data_header.h"
#include "platform/processors.h"

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define MF_GRID_AVX2 1
#include <immintrin.h>
#endif

#if defined(__GNUC__) || defined(__clang__)
#define MF_FLATTEN __attribute__((flatten))
#else
#define MF_FLATTEN
#endif

namespace mf::grid {

namespace {

static_assert(std::endian::native == std::endian::little, "the field scans read words little-endian");

using codev::is_space;

inline int32_t map_value(int32_t v, const sample_map& m) {
    if (m.has_nda && v == m.nda) return invalid_phase;
    return static_cast<int32_t>(static_cast<uint32_t>(v) << m.shift);
}

inline int32_t delivered(int32_t sample, const sample_map& m) {
    if (!m.big_endian) return sample;
    const auto u = static_cast<uint32_t>(sample);
    return static_cast<int32_t>((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24));
}

inline void put(int32_t* out, int32_t v, const sample_map& m) { *out = delivered(map_value(v, m), m); }

// Each scan of the writer's layout takes the line's ten fields (line[0..69]; the
// line end was checked, line[-1] is readable) and returns false, writing
// nothing, unless each field is blanks, an optional sign and at least one digit
// and every field but the first begins with a blank (otherwise the seven
// characters of the value before it would reach into it): then each field is
// exactly what the general scan reads.
using line_scan = bool (*)(const char* line, int32_t* out, const sample_map& m);

bool scan_line_none(const char*, int32_t*, const sample_map&) { return false; }

constexpr uint64_t ones = 0x0101010101010101ull;
constexpr uint64_t highs = 0x8080808080808080ull;

// The high bit of each byte of x that is a decimal digit.
inline uint64_t digit_bytes(uint64_t x) {
    const uint64_t low = x & ~highs;
    return (low + ones * 0x50) & ~(low + ones * 0x46) & ~x & highs;
}

// Eight digit values, the most significant in the lowest byte, as one number.
inline uint32_t eight_digits(uint64_t v) {
    v = v * 10 + (v >> 8);
    v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
         (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<uint32_t>(v);
}

// The byte before a field's digits: 1 for a blank or '+', 3 for '-', 0 for
// anything else.
constexpr std::array<uint8_t, 256> sign_classes = [] {
    std::array<uint8_t, 256> classes{};
    classes[' '] = 1;
    classes['+'] = 1;
    classes['-'] = 3;
    return classes;
}();
static_assert(sign_classes['-'] == 3 && sign_classes['0'] == 0);

// One field in a word: byte 0 is the character before the field (not part of
// it; a blank for the line's first field). The digits must run to the field's
// end; the byte before them may be a sign or a blank, every byte before that a
// blank, and so must the bytes in must_blank. Without a branch: the signs of a
// map's values follow no pattern.
inline bool scan_word(uint64_t x, uint64_t must_blank, int32_t* value) {
    constexpr uint64_t field = ~uint64_t{0xFF};
    const uint64_t digits = ((digit_bytes(x) & field) >> 7) * 0xFF;
    const uint64_t lowest = digits & (0 - digits);  // the lowest bit of the first digit
    const bool to_end = (static_cast<int64_t>(digits) < 0) & (digits + lowest == 0);
    // Below the byte before the digits, only blanks.
    const bool blanks = ((x ^ (ones * ' ')) & field & (((lowest >> 8) - 1) | must_blank)) == 0;
    const unsigned sign = sign_classes[(x >> ((std::countr_zero(lowest) - 8) & 63)) & 0xFF];
    const auto magnitude = static_cast<int32_t>(eight_digits(x & digits & (ones * 0x0F)));
    const int32_t flip = -static_cast<int32_t>(sign >> 1);
    *value = (magnitude ^ flip) - flip;
    return to_end & blanks & ((sign & 1) != 0);
}

bool scan_line_eight_byte(const char* line, int32_t* out, const sample_map& m) {
    int32_t values[10];
    bool ok = true;
#pragma GCC unroll 10
    for (int f = 0; f < 10; ++f) {
        uint64_t x;
        std::memcpy(&x, line + 7 * f - 1, 8);
        if (f == 0) x = (x & ~uint64_t{0xFF}) | ' ';
        ok &= scan_word(x, f == 0 ? 0 : 0xFF00, &values[f]);
    }
    if (!ok) return false;
#pragma GCC unroll 10
    for (int f = 0; f < 10; ++f)
        put(out + f, values[f], m);
    return true;
}

#ifdef MF_GRID_AVX2

// Four fields, one per 64-bit lane (byte 0 of a lane is the byte before its
// field), from two 16-byte loads of two fields each. The values go to *v in
// order; the result has a bit set in some lane where a field breaks the layout
// (the lanes outside lanes are not looked at).
__attribute__((target("avx2"), always_inline)) inline __m256i scan_quad(__m256i raw, __m256i lanes, __m256i blank_first,
                                                                        __m128i* v) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 7, 8, 9, 10, 11, 12, 13, 14, 0, 1, 2, 3, 4, 5, 6, 7,
                                            7, 8, 9, 10, 11, 12, 13, 14);
    const __m256i x = _mm256_shuffle_epi8(raw, spread);
    const __m256i from_zero = _mm256_sub_epi8(x, _mm256_set1_epi8('0'));
    const __m256i in_field = _mm256_and_si256(lanes, _mm256_set1_epi64x(static_cast<int64_t>(0xFFFFFFFFFFFFFF00ull)));
    const __m256i is_digit =
        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(from_zero, _mm256_set1_epi8(9)), from_zero), in_field);
    const __m256i is_minus = _mm256_and_si256(_mm256_cmpeq_epi8(x, _mm256_set1_epi8('-')), in_field);
    const __m256i is_sign = _mm256_or_si256(is_minus, _mm256_cmpeq_epi8(x, _mm256_set1_epi8('+')));
    const __m256i is_blank = _mm256_cmpeq_epi8(x, _mm256_set1_epi8(' '));
    // The digits run to the field's end: a digit's next byte is a digit, the last
    // byte is one; the byte before them may be a sign; every byte is a digit, a
    // sign or a blank; every field but the first begins with a blank.
    const __m256i digit_after = _mm256_slli_epi64(is_digit, 8);
    const __m256i before = _mm256_srli_epi64(_mm256_andnot_si256(digit_after, is_digit), 8);
    const __m256i last_byte = _mm256_and_si256(lanes, _mm256_set1_epi64x(static_cast<int64_t>(0xFF00000000000000ull)));
    __m256i bad = _mm256_andnot_si256(is_digit, digit_after);
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(is_digit, last_byte));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(before, _mm256_and_si256(is_sign, in_field)));
    bad = _mm256_or_si256(bad,
                          _mm256_andnot_si256(_mm256_or_si256(_mm256_or_si256(is_digit, is_sign), is_blank), in_field));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(is_blank, blank_first));
    // Digit values, then pairs, fours and eights of digits.
    const __m256i digits = _mm256_and_si256(from_zero, is_digit);
    const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010A));
    const __m256i fours = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
    const __m256i packed = _mm256_packus_epi32(fours, fours);
    const __m256i eights = _mm256_madd_epi16(packed, _mm256_set1_epi32(0x00012710));
    // In a field that passed, a minus is its sign. Lanes 0, 1 (low half) and
    // 4, 5 (high half) of eights hold the four fields; packing the per-field
    // masks the same way lines them up.
    const __m256i positive = _mm256_cmpeq_epi64(is_minus, _mm256_setzero_si256());
    const __m256i negative = _mm256_xor_si256(_mm256_packs_epi32(positive, positive), _mm256_set1_epi32(-1));
    const __m256i signed_values = _mm256_sub_epi32(_mm256_xor_si256(eights, negative), negative);
    *v = _mm256_castsi256_si128(_mm256_permute4x64_epi64(signed_values, 0x08));
    return bad;
}

__attribute__((target("avx2"), always_inline)) inline __m128i map_quad(__m128i v, const sample_map& m) {
    __m128i out = _mm_sll_epi32(v, _mm_cvtsi32_si128(m.shift));
    if (m.has_nda) out = _mm_blendv_epi8(out, _mm_set1_epi32(invalid_phase), _mm_cmpeq_epi32(v, _mm_set1_epi32(m.nda)));
    if (m.big_endian) out = _mm_shuffle_epi8(out, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
    return out;
}

__attribute__((target("avx2"), always_inline)) inline __m256i load_pairs(const char* a, const char* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

__attribute__((target("avx2"))) bool scan_line_avx2(const char* line, int32_t* out, const sample_map& m) {
    const char* base = line - 1;  // fields 2k and 2k + 1 lie in the 16 bytes from base + 14k
    const __m256i all = _mm256_set1_epi8(-1);
    const __m256i half = _mm256_setr_epi64x(-1, -1, 0, 0);
    const __m256i blank = _mm256_set1_epi64x(0xFF00);
    __m128i v0, v1, v2;
    const __m256i bad = _mm256_or_si256(
        _mm256_or_si256(scan_quad(load_pairs(base, base + 14), all, _mm256_setr_epi64x(0, 0xFF00, 0xFF00, 0xFF00), &v0),
                        scan_quad(load_pairs(base + 28, base + 42), all, blank, &v1)),
        scan_quad(load_pairs(base + 56, base + 56), half, _mm256_and_si256(blank, half), &v2));
    if (!_mm256_testz_si256(bad, bad)) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), map_quad(v0, m));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), map_quad(v1, m));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), map_quad(v2, m));
    return true;
}

bool cpu_has_avx2() { return __builtin_cpu_supports("avx2"); }

#else

bool scan_line_avx2(const char*, int32_t*, const sample_map&) { return false; }
bool cpu_has_avx2() { return false; }

#endif

fixed_scan initial_scan() {
    const char* wanted = std::getenv("MF_GRID_SCAN");
    for (fixed_scan s : {fixed_scan::none, fixed_scan::eight_byte, fixed_scan::avx2})
        if (wanted && std::strcmp(wanted, fixed_scan_name(s)) == 0 && fixed_scan_available(s)) return s;
    return fixed_scan_available(fixed_scan::avx2) ? fixed_scan::avx2 : fixed_scan::eight_byte;
}

std::atomic<int> chosen_scan{-1};

// At a line end with a whole line of the writer's layout after it: the line's
// length (71, or 72 with CR LF) when its fields were taken, else 0.
template <line_scan Scan>
inline size_t fixed_line(const char* line, int32_t* out, const sample_map& m) {
    size_t length;
    if (line[70] == '\n')
        length = 71;
    else if (line[70] == '\r' && line[71] == '\n')
        length = 72;
    else
        return 0;
    return Scan(line, out, m) ? length : 0;
}

// The span loop, one copy per line scan so that the scan is inlined into it
// (its constants stay in registers from line to line).
template <line_scan Scan>
inline span_result parse_span_with(const char* p, const char* e, int32_t* out, size_t need, const sample_map& mapping) {
    // A copy the compiler can keep in registers: the samples written through out
    // might otherwise change the caller's record, so it would be read again
    // after every store.
    const sample_map m = mapping;
    size_t n = 0;
    while (n < need) {
        if (p < e && *p == '\n' && need - n >= 10 && e - p > 72) {
            if (const size_t length = fixed_line<Scan>(p + 1, out + n, m)) {
                p += length;
                n += 10;
                continue;
            }
        }
        while (p < e && is_space(static_cast<unsigned char>(*p)))
            ++p;
        if (p == e) break;
        const char* limit = e - p > 7 ? p + 7 : e;
        const char* q = p;
        const bool negative = *q == '-';
        if (negative || *q == '+') ++q;
        const char* digits = q;
        int32_t v = 0;
        while (q < limit && static_cast<unsigned>(*q - '0') < 10u)
            v = v * 10 + (*q++ - '0');
        if (q == digits) return {p, n, true};
        p = q;
        put(out + n++, negative ? -v : v, m);
    }
    return {p, n, false};
}

// Flattened, so that the line scan is inlined into the loop whatever its size.
MF_FLATTEN span_result parse_span_eight_byte(const char* p, const char* e, int32_t* out, size_t need,
                                             const sample_map& m) {
    return parse_span_with<scan_line_eight_byte>(p, e, out, need, m);
}

#ifdef MF_GRID_AVX2
__attribute__((target("avx2"), flatten)) span_result parse_span_avx2(const char* p, const char* e, int32_t* out,
                                                                     size_t need, const sample_map& m) {
    return parse_span_with<scan_line_avx2>(p, e, out, need, m);
}
#else
span_result parse_span_avx2(const char* p, const char* e, int32_t* out, size_t need, const sample_map& m) {
    return parse_span_with<scan_line_none>(p, e, out, need, m);
}
#endif

}  // namespace

bool fixed_scan_available(fixed_scan scan) { return scan != fixed_scan::avx2 || cpu_has_avx2(); }

fixed_scan active_fixed_scan() {
    int s = chosen_scan.load(std::memory_order_relaxed);
    if (s < 0) {
        s = static_cast<int>(initial_scan());
        chosen_scan.store(s, std::memory_order_relaxed);
    }
    return static_cast<fixed_scan>(s);
}

bool set_fixed_scan(fixed_scan scan) {
    if (!fixed_scan_available(scan)) return false;
    chosen_scan.store(static_cast<int>(scan), std::memory_order_relaxed);
    return true;
}

const char* fixed_scan_name(fixed_scan scan) {
    switch (scan) {
    case fixed_scan::none:
        return "none";
    case fixed_scan::eight_byte:
        return "eight_byte";
    case fixed_scan::avx2:
        return "avx2";
    }
    return "?";
}

size_t scan_fixed_line(fixed_scan scan, const char* line, int32_t* out, const sample_map& m) {
    if (!fixed_scan_available(scan)) return 0;
    switch (scan) {
    case fixed_scan::none:
        return 0;
    case fixed_scan::eight_byte:
        return fixed_line<scan_line_eight_byte>(line, out, m);
    case fixed_scan::avx2:
        return fixed_line<scan_line_avx2>(line, out, m);
    }
    return 0;
}

span_result parse_span(const char* p, const char* e, int32_t* out, size_t need, const sample_map& m) {
    switch (active_fixed_scan()) {
    case fixed_scan::none:
        break;
    case fixed_scan::eight_byte:
        return parse_span_eight_byte(p, e, out, need, m);
    case fixed_scan::avx2:
        return parse_span_avx2(p, e, out, need, m);
    }
    return parse_span_with<scan_line_none>(p, e, out, need, m);
}

namespace {

// Text per chunk, and the chunks in flight: the samples of at most this many
// chunks are held at once, whatever the size of the map. A smaller text is cut
// into smaller chunks (at least about 64 of them), so that both threads start
// soon and end together, and the slots touch less fresh memory.
constexpr size_t chunk_bytes = size_t{256} << 10;
constexpr size_t least_chunk_bytes = size_t{64} << 10;
constexpr size_t slot_count = 4;
// Below this a text is not worth a second thread.
constexpr size_t parallel_text = size_t{1} << 20;

// Every field takes a character and all but the first a separator or a sign,
// so a text of n bytes holds at most n / 2 + 1 fields.
size_t most_fields(size_t bytes) { return bytes / 2 + 1; }

size_t chunk_size(size_t text_bytes) { return std::clamp(text_bytes / 64, least_chunk_bytes, chunk_bytes); }

struct chunk_slot {
    const char* begin = nullptr;
    const char* end = nullptr;
    span_result result{};
    bool no_memory = false;
    bool ready = false;
    int32_t* values = nullptr;
    size_t capacity = 0;
    ~chunk_slot() { u_free(values); }
    bool reserve(size_t count) {
        if (count <= capacity) return true;
        u_free(values);
        values = static_cast<int32_t*>(u_malloc(count * sizeof(int32_t)));
        capacity = values ? count : 0;
        return values != nullptr;
    }
};

// Chunks are claimed in file order by whichever thread is free, parsed into the
// slot of their number, and handed to the sink in file order by the caller's
// thread, which parses too while it has nothing to hand on.
class chunk_pipeline {
public:
    chunk_pipeline(const char* p, const char* e, size_t count, const sample_map& m, const sample_sink& sink)
        : next_(p), end_(e), chunk_(chunk_size(static_cast<size_t>(e - p))), count_(count), map_(m), sink_(sink) {}

    int32_t run(bool with_helper) {
        std::thread helper;
        if (with_helper) {
            // Reserved here, so that the helper's first chunks allocate nothing
            // (an allocation there would set up a second heap for its thread).
            for (chunk_slot& slot : slots_)
                slot.reserve(std::min(count_, most_fields(chunk_)));
            try {
                helper = std::thread([this] { help(); });
                platform::run_beside_caller(helper);
            } catch (...) {
            }
        }
        const int32_t status = lead();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (helper.joinable()) helper.join();
        return status;
    }

private:
    bool can_claim() const { return !stop_ && next_ < end_ && claimed_ - handed_ < slot_count; }

    // Under the lock: the next chunk ends at the first white space after
    // chunk_ (a field never spans white space), or at the end of the text.
    size_t claim() {
        const size_t number = claimed_++;
        chunk_slot& slot = slots_[number % slot_count];
        slot.begin = next_;
        const char* cut = static_cast<size_t>(end_ - next_) > chunk_ ? next_ + chunk_ : end_;
        while (cut < end_ && !is_space(static_cast<unsigned char>(*cut)))
            ++cut;
        slot.end = cut;
        slot.ready = false;
        next_ = cut;
        return number;
    }

    // Outside the lock: the slot belongs to the claiming thread until ready.
    void parse(chunk_slot& slot) {
        const size_t room = std::min(count_, most_fields(static_cast<size_t>(slot.end - slot.begin)));
        slot.no_memory = !slot.reserve(room);
        if (slot.no_memory) return;
        slot.result = parse_span(slot.begin, slot.end, slot.values, room, map_);
    }

    void finish_parse(chunk_slot& slot) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slot.ready = true;
        }
        changed_.notify_all();
    }

    void help() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || next_ == end_ || can_claim(); });
            if (!can_claim()) return;
            chunk_slot& slot = slots_[claim() % slot_count];
            lock.unlock();
            parse(slot);
            finish_parse(slot);
            lock.lock();
        }
    }

    // Hands one parsed chunk on; 0 to go on, 1 when all samples are in, else a code.
    int32_t hand_on(chunk_slot& slot) {
        if (slot.no_memory) return ERR_NO_MEM;
        const span_result& r = slot.result;
        const size_t take = std::min(r.values, count_ - done_);
        if (take > 0 && sink_) sink_(slot.values, take);
        done_ += take;
        if (done_ == count_) return 1;
        if (r.bad || slot.end == end_) return ERR_PREMATURE_EOF;
        return 0;
    }

    int32_t lead() {
        if (count_ == 0) return 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            chunk_slot& due = slots_[handed_ % slot_count];
            if (handed_ < claimed_ && due.ready) {
                lock.unlock();
                const int32_t status = hand_on(due);
                lock.lock();
                ++handed_;
                changed_.notify_all();
                if (status != 0) return status == 1 ? 0 : status;
                continue;
            }
            if (can_claim()) {
                chunk_slot& slot = slots_[claim() % slot_count];
                lock.unlock();
                parse(slot);
                lock.lock();
                slot.ready = true;
                continue;
            }
            if (handed_ == claimed_) return ERR_PREMATURE_EOF;  // no text left
            changed_.wait(lock);
        }
    }

    const char* next_;
    const char* const end_;
    const size_t chunk_;
    const size_t count_;
    const sample_map map_;
    const sample_sink& sink_;
    chunk_slot slots_[slot_count];
    size_t claimed_ = 0;
    size_t handed_ = 0;
    size_t done_ = 0;  // samples handed on
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace

int32_t scan_samples(const char* p, const char* e, size_t count, const sample_map& m, const sample_sink& sink) {
    chunk_pipeline pipeline(p, e, count, m, sink);
    return pipeline.run(static_cast<size_t>(e - p) >= parallel_text);
}

int32_t scan_samples(codev::text_source& in, size_t count, const sample_map& m, const sample_sink& sink) {
    constexpr size_t block = size_t{1} << 16;
    u_buffer<int32_t> values(std::min(count, block));
    if (!values) return ERR_NO_MEM;
    size_t done = 0;
    size_t want = 0;
    while (done < count) {
        const int64_t available = want ? in.fill(want) : in.fill_buffer();
        if (available < 0) return ERR_NO_MEM;
        want = 0;
        const char* p = in.cursor();
        const char* e = in.limit();
        if (p == e) return ERR_PREMATURE_EOF;
        const char* end = e;
        if (!in.at_input_end()) {
            // Parse up to the last white space; the field after it may continue
            // in the next read.
            while (end > p && !is_space(static_cast<unsigned char>(end[-1])))
                --end;
            if (end == p) {
                want = static_cast<size_t>(available) * 2;
                continue;
            }
        }
        const span_result r = parse_span(p, end, values.get(), std::min(count - done, block), m);
        if (r.values > 0 && sink) sink(values.get(), r.values);
        done += r.values;
        in.advance_to(r.stop);
        if (done < count && (r.bad || (in.at_input_end() && r.stop == e))) return ERR_PREMATURE_EOF;
    }
    return 0;
}

}  // namespace mf::grid
