// Searching: a backtracking matcher with an explicit stack and a memo of failed
// (instruction, position) states, and a breadth-first simulation that takes over
// when the backtracker's memory would pass its budget.
//
// Why the memo is exact: without back-references, whether the program matches from
// instruction i at position p does not depend on how (i, p) was reached, nor on where
// the try started. The syntax refuses * and + on anything that can match the empty
// string, so no path comes back to a state it has not finished with; a state met
// again has therefore already failed. Remembering the states where paths meet, and
// the positions of each repetition's loop, bounds a search by program size x
// subject length.
#include "rules/regex/regex.h"
#include "rules/regex/regex_internal.h"

#include <cstring>
#include <memory>
#include <new>

using regex_internal::InRanges;
using regex_internal::kNone;
using regex_internal::MemoBit;
using regex_internal::MemoWord;
using regex_internal::MemoWords;
using regex_internal::Op;

namespace {

struct Frame {
    uint32_t pc;   // Split: where to resume; Star: the repetition
    uint32_t pos;  // Split: position to resume at; Star: the continuation position being tried
    uint32_t low;  // kNone for Split; Star: the lowest continuation position
};

// A stack that lives inside the searcher until it outgrows a few dozen entries.
class FrameStack {
public:
    bool Push(const Frame& frame, std::size_t budget) {
        if (size_ == capacity_) {
            if (size_ >= budget) return false;
            std::size_t capacity = capacity_ * 2 < budget ? capacity_ * 2 : budget;
            std::unique_ptr<Frame[]> grown(new Frame[capacity]);
            std::memcpy(grown.get(), data_, size_ * sizeof(Frame));
            heap_ = std::move(grown);
            data_ = heap_.get();
            capacity_ = capacity;
        }
        data_[size_++] = frame;
        return true;
    }
    bool Empty() const { return size_ == 0; }
    Frame& Top() { return data_[size_ - 1]; }
    void Pop() { --size_; }
    void Clear() { size_ = 0; }

private:
    Frame inline_[32];
    Frame* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 32;
    std::unique_ptr<Frame[]> heap_;
};

}  // namespace

class RegexSearcher {
public:
    RegexSearcher(const CRegex& re, const char16_t* s, uint32_t n, const RegexSearchTuning& tuning,
                  RegexSearchStats& stats)
        : re_(re), prog_(re.program_.data()), lit_(re.literals_.data()), ranges_(re.ranges_.data()),
          s_(s), n_(n), tuning_(tuning), stats_(stats) {}

    // The leftmost match as [start, end).
    bool Run(uint32_t& start, uint32_t& end);

private:
    enum class Try { NoMatch, Match, Abort };

    [[gnu::always_inline]] bool ItemMatches(Op op, uint32_t arg, uint32_t alt, char16_t c) const {
        switch (op) {
        case Op::Any: return true;
        case Op::Char: return c == arg;
        case Op::Set: return InRanges(ranges_ + arg, alt, c);
        case Op::NotSet: return !InRanges(ranges_ + arg, alt, c);
        default: return false;
        }
    }
    uint32_t Find(const char16_t* text, uint32_t length, uint32_t from) const;
    bool IsCandidate(uint32_t pos) const;
    uint32_t NextCandidate(uint32_t pos) const;

    Try Backtrack(uint32_t from, uint32_t& end);
    bool StartMemo();
    // Position-major, so that the rows of one position share a cache line.
    bool Seen(uint32_t row, uint32_t pos) const {
        return (memo_[MemoWord<std::size_t>(re_.memoRows_, row, pos)] >> MemoBit(re_.memoRows_, row, pos)) & 1;
    }
    void Mark(uint32_t row, uint32_t pos) {
        memo_[MemoWord<std::size_t>(re_.memoRows_, row, pos)] |= uint64_t(1) << MemoBit(re_.memoRows_, row, pos);
    }
    // Lowest continuation position at or below pos worth trying for a repetition, or
    // kNone; positions skipped on the way are remembered as failed.
    uint32_t NextTry(const CRegex::Inst& star, uint32_t pos, uint32_t low);

    bool Breadth(uint32_t from, uint32_t& start, uint32_t& end);

    const CRegex& re_;
    const CRegex::Inst* prog_;
    const char16_t* lit_;
    const uint32_t* ranges_;
    const char16_t* s_;
    uint32_t n_;
    const RegexSearchTuning& tuning_;
    RegexSearchStats& stats_;

    FrameStack stack_;
    std::unique_ptr<uint64_t[]> memoStore_;
    uint64_t* memo_ = nullptr;
    uint64_t steps_ = 0;
    uint64_t checkAt_ = 0;  // steps at which the next budget decision is due
};

uint32_t RegexSearcher::Find(const char16_t* text, uint32_t length, uint32_t from) const {
    if (length == 0) return from;
    if (length > n_ || from > n_ - length) return kNone;
    const char16_t first = text[0], final = text[length - 1];
    const uint32_t last = n_ - length;
    for (uint32_t i = from; i <= last; ++i) {
        if (s_[i] == first && s_[i + length - 1] == final &&
            std::memcmp(s_ + i + 1, text + 1, (length - 1) * sizeof(char16_t)) == 0)
            return i;
    }
    return kNone;
}

bool RegexSearcher::IsCandidate(uint32_t pos) const {
    if (re_.anchored_) return pos == 0;
    if (re_.hasFirstChar_) return pos < n_ && s_[pos] == re_.firstChar_;
    if (re_.hasFirstSet_) return pos < n_ && ((re_.firstSet_[(s_[pos] & 0xFF) >> 6] >> (s_[pos] & 63)) & 1);
    return pos <= n_;
}

uint32_t RegexSearcher::NextCandidate(uint32_t pos) const {
    if (re_.anchored_) return pos == 0 ? 0 : kNone;
    if (re_.hasFirstChar_) {
        char16_t c = re_.firstChar_;
        while (pos < n_ && s_[pos] != c) ++pos;
        return pos < n_ ? pos : kNone;
    }
    if (re_.hasFirstSet_) {
        const uint64_t* set = re_.firstSet_;
        while (pos < n_ && !((set[(s_[pos] & 0xFF) >> 6] >> (s_[pos] & 63)) & 1)) ++pos;
        return pos < n_ ? pos : kNone;
    }
    return pos <= n_ ? pos : kNone;
}

bool RegexSearcher::Run(uint32_t& start, uint32_t& end) {
    if (re_.pureLiteral_) {
        const CRegex::Inst& in = prog_[re_.start_];
        uint32_t length = in.op == Op::Str ? in.alt : 1;
        uint32_t at = Find(lit_ + (in.op == Op::Str ? in.arg : in.alt), length, 0);
        if (at == kNone) return false;
        start = at;
        end = at + length;
        return true;
    }
    if (re_.requiredLength_ > 0 && !re_.anchored_ &&
        Find(lit_ + re_.requiredOffset_, re_.requiredLength_, 0) == kNone)
        return false;
    if (tuning_.engine == RegexSearchTuning::Engine::Breadth) return Breadth(0, start, end);

    if (tuning_.memo == RegexSearchTuning::Memo::Always) {
        if (!StartMemo()) {
            if (tuning_.engine == RegexSearchTuning::Engine::Automatic) return Breadth(0, start, end);
            stats_.gaveUp = true;
            return false;
        }
    } else if (tuning_.memo == RegexSearchTuning::Memo::Lazy) {
        // Ordinary searches stay well below a few steps per character; only those that
        // backtrack heavily pay for the memo.
        checkAt_ = 4 * (uint64_t(n_) + 1) + 256;
    }
    if (tuning_.stepLimit > 0 && (checkAt_ == 0 || tuning_.stepLimit < checkAt_)) checkAt_ = tuning_.stepLimit;

    for (uint32_t pos = NextCandidate(0); pos != kNone; pos = pos < n_ ? NextCandidate(pos + 1) : kNone) {
        switch (Backtrack(pos, end)) {
        case Try::Match:
            start = pos;
            stats_.steps = steps_;
            return true;
        case Try::NoMatch:
            if (re_.leadingRepeat_ != kNone) {
                // x* or x+ first: a try that failed at pos covered every start in the
                // rest of the run of x, whose continuations it already tried.
                const CRegex::Inst& star = prog_[re_.leadingRepeat_];
                while (pos < n_ && ItemMatches(star.item, star.arg, star.alt, s_[pos])) ++pos;
                steps_ += 1;
            }
            break;
        case Try::Abort:
            stats_.steps = steps_;
            if (tuning_.engine == RegexSearchTuning::Engine::Automatic && !stats_.gaveUp)
                return Breadth(pos, start, end);
            stats_.gaveUp = true;
            return false;
        }
    }
    stats_.steps = steps_;
    return false;
}

bool RegexSearcher::StartMemo() {
    std::size_t words = MemoWords<std::size_t>(re_.memoRows_, n_, tuning_.memoBudgetBits);
    if (words == 0) return false;
    memoStore_.reset(new uint64_t[words]());
    memo_ = memoStore_.get();
    stats_.memo = true;
    return true;
}

uint32_t RegexSearcher::NextTry(const CRegex::Inst& star, uint32_t pos, uint32_t low) {
    // A literal after the loop must start right where the loop stops.
    const CRegex::Inst& next = prog_[star.next];
    if (next.op != Op::Char && next.op != Op::Str) return pos;
    char16_t c = next.op == Op::Char ? static_cast<char16_t>(next.arg) : lit_[next.arg];
    for (;; ++steps_) {
        if (pos < n_ && s_[pos] == c) return pos;
        if (memo_) Mark(star.memo, pos);
        if (pos == low) return kNone;
        --pos;
    }
}

RegexSearcher::Try RegexSearcher::Backtrack(uint32_t from, uint32_t& end) {
    stack_.Clear();
    uint32_t pc = re_.start_;
    uint32_t pos = from;
    const std::size_t budget = tuning_.stackBudget;
    for (;;) {
        bool ok = true;
        if (++steps_ >= checkAt_ && checkAt_ != 0) {
            if (tuning_.stepLimit > 0 && steps_ >= tuning_.stepLimit) {
                stats_.gaveUp = true;
                return Try::Abort;
            }
            if (!memo_ && tuning_.memo == RegexSearchTuning::Memo::Lazy && !StartMemo()) return Try::Abort;
            checkAt_ = tuning_.stepLimit;
        }
        const CRegex::Inst& in = prog_[pc];
        if (memo_ && in.memo != kNone && in.op != Op::Star) {
            if (Seen(in.memo, pos)) ok = false;
            else Mark(in.memo, pos);
        }
        if (ok) {
            switch (in.op) {
            case Op::Match:
                end = pos;
                return Try::Match;
            case Op::Bol:
                ok = pos == 0;
                pc = in.next;
                break;
            case Op::Eol:
                ok = pos == n_;
                pc = in.next;
                break;
            case Op::Any:
                ok = pos < n_;
                ++pos;
                pc = in.next;
                break;
            case Op::Char:
                ok = pos < n_ && s_[pos] == in.arg;
                ++pos;
                pc = in.next;
                break;
            case Op::Str:
                ok = in.alt <= n_ - pos &&
                     std::memcmp(s_ + pos, lit_ + in.arg, in.alt * sizeof(char16_t)) == 0;
                pos += in.alt;
                pc = in.next;
                break;
            case Op::Set:
            case Op::NotSet:
                ok = pos < n_ && ItemMatches(in.op, in.arg, in.alt, s_[pos]);
                ++pos;
                pc = in.next;
                break;
            case Op::Split: {
                // No need to come back for a literal that cannot match here.
                const CRegex::Inst& other = prog_[in.alt];
                bool hopeless = (other.op == Op::Char || other.op == Op::Str) &&
                                (pos >= n_ || s_[pos] != (other.op == Op::Char ? other.arg : lit_[other.arg]));
                if (!hopeless && !stack_.Push(Frame{in.alt, pos, kNone}, budget)) return Try::Abort;
                pc = in.next;
                break;
            }
            case Op::Star: {
                // The loop at each position p stands for "continue after p, p+1, ... up to
                // the end of the run"; once that failed, p is remembered and a later
                // count stops there.
                if (memo_ && Seen(in.memo, pos)) {
                    ok = false;
                    break;
                }
                uint32_t p = pos;
                uint32_t top;
                if (memo_) {
                    while (p < n_ && ItemMatches(in.item, in.arg, in.alt, s_[p]) && (p == pos || !Seen(in.memo, p))) ++p;
                    top = (p > pos && Seen(in.memo, p)) ? p - 1 : p;
                } else if (in.item == Op::Any) {
                    top = n_;
                } else {
                    while (p < n_ && ItemMatches(in.item, in.arg, in.alt, s_[p])) ++p;
                    top = p;
                }
                steps_ += p - pos;
                uint32_t at = NextTry(in, top, pos);
                if (at == kNone) {
                    ok = false;
                    break;
                }
                if (!stack_.Push(Frame{pc, at, pos}, budget)) return Try::Abort;
                pos = at;
                pc = in.next;
                break;
            }
            case Op::Jmp:
                pc = in.next;
                break;
            }
        }
        if (ok) continue;
        // Back to the latest choice.
        for (;;) {
            if (stack_.Empty()) return Try::NoMatch;
            Frame& f = stack_.Top();
            if (f.low == kNone) {
                pc = f.pc;
                pos = f.pos;
                stack_.Pop();
                break;
            }
            const CRegex::Inst& star = prog_[f.pc];
            if (memo_) Mark(star.memo, f.pos);
            uint32_t at = f.pos == f.low ? kNone : NextTry(star, f.pos - 1, f.low);
            ++steps_;
            if (at == kNone) {
                stack_.Pop();
                continue;
            }
            f.pos = at;
            pos = at;
            pc = star.next;
            break;
        }
    }
}

bool RegexSearcher::Breadth(uint32_t from, uint32_t& start, uint32_t& end) {
    stats_.breadth = true;
    struct Thread {
        uint32_t pc;
        uint32_t off;    // characters of a Str already matched
        uint32_t start;  // where this thread's try began
    };
    const uint32_t count = static_cast<uint32_t>(re_.program_.size());
    // One state per instruction, and one per character of a literal string.
    const uint32_t states = re_.states_;
    std::unique_ptr<uint32_t[]> base(new uint32_t[count]);
    for (uint32_t i = 0, next = 0; i < count; ++i) {
        base[i] = next;
        next += prog_[i].op == Op::Str ? prog_[i].alt : 1;
    }
    std::unique_ptr<uint32_t[]> mark(new uint32_t[states]());
    std::unique_ptr<Thread[]> listA(new Thread[states]), listB(new Thread[states]);
    std::unique_ptr<uint32_t[]> work(new uint32_t[2 * std::size_t(count) + 2]);
    Thread* cur = listA.get();
    Thread* nxt = listB.get();
    uint32_t curSize = 0, nxtSize = 0;

    // Adds the threads reachable from pc without consuming, in priority order. A state
    // already in the list came from a thread of higher priority and wins.
    auto add = [&](Thread* list, uint32_t& size, uint32_t pc0, uint32_t at, uint32_t begin, uint32_t stamp) {
        uint32_t depth = 0;
        work[depth++] = pc0;
        while (depth > 0) {
            uint32_t pc = work[--depth];
            if (mark[base[pc]] == stamp) continue;
            mark[base[pc]] = stamp;
            const CRegex::Inst& in = prog_[pc];
            switch (in.op) {
            case Op::Split:
                work[depth++] = in.alt;
                work[depth++] = in.next;
                break;
            case Op::Bol:
                if (at == 0) work[depth++] = in.next;
                break;
            case Op::Eol:
                if (at == n_) work[depth++] = in.next;
                break;
            case Op::Jmp:
                work[depth++] = in.next;
                break;
            case Op::Star:
                list[size++] = Thread{pc, 0, begin};  // another round first: greedy
                work[depth++] = in.next;
                break;
            default:
                list[size++] = Thread{pc, 0, begin};
                break;
            }
        }
    };

    bool matched = false;
    uint32_t pos = NextCandidate(from);
    if (pos == kNone) return false;
    for (;;) {
        uint32_t stamp = pos + 1;
        if (!matched && IsCandidate(pos)) add(cur, curSize, re_.start_, pos, pos, stamp);
        if (curSize == 0) {
            if (matched || pos >= n_) break;
            uint32_t next = NextCandidate(pos + 1);
            if (next == kNone) break;
            pos = next;
            continue;
        }
        uint32_t nextStamp = pos + 2;
        char16_t c = pos < n_ ? s_[pos] : 0;
        for (uint32_t i = 0; i < curSize; ++i) {
            const Thread& t = cur[i];
            const CRegex::Inst& in = prog_[t.pc];
            ++stats_.steps;
            if (in.op == Op::Match) {
                matched = true;
                start = t.start;
                end = pos;
                break;  // threads of lower priority are dropped
            }
            if (pos >= n_) continue;
            switch (in.op) {
            case Op::Any:
            case Op::Char:
            case Op::Set:
            case Op::NotSet:
                if (ItemMatches(in.op, in.arg, in.alt, c)) add(nxt, nxtSize, in.next, pos + 1, t.start, nextStamp);
                break;
            case Op::Str:
                if (c == lit_[in.arg + t.off]) {
                    if (t.off + 1 == in.alt) {
                        add(nxt, nxtSize, in.next, pos + 1, t.start, nextStamp);
                    } else if (mark[base[t.pc] + t.off + 1] != nextStamp) {
                        mark[base[t.pc] + t.off + 1] = nextStamp;
                        nxt[nxtSize++] = Thread{t.pc, t.off + 1, t.start};
                    }
                }
                break;
            case Op::Star:
                if (ItemMatches(in.item, in.arg, in.alt, c)) add(nxt, nxtSize, t.pc, pos + 1, t.start, nextStamp);
                break;
            default:
                break;
            }
        }
        std::swap(cur, nxt);
        curSize = nxtSize;
        nxtSize = 0;
        if (pos >= n_) break;
        ++pos;
    }
    return matched;
}

int32_t CRegex::Search(const char16_t* subject) {
    if (!subject) return Search(subject, 0);
    return Search(std::u16string_view(subject));
}

int32_t CRegex::Search(const char16_t* subject, std::size_t length) {
    if (!subject) {
        matchStart_ = -1;
        matchLength_ = 0;
        matchText_.clear();
        return -1;
    }
    return Search(std::u16string_view(subject, length));
}

int32_t CRegex::Search(std::u16string_view subject) {
    static const RegexSearchTuning kDefault;
    return Search(subject, kDefault, nullptr);
}

int32_t CRegex::Search(std::u16string_view subject, const RegexSearchTuning& tuning, RegexSearchStats* stats) {
    RegexSearchStats local;
    RegexSearchStats& report = stats ? *stats : local;
    report = RegexSearchStats{};
    matchStart_ = -1;
    matchLength_ = 0;
    matchText_.clear();
    if (!compiled_ || subject.size() > 0x7FFFFFFEu) return -1;
    try {
        RegexSearcher searcher(*this, subject.data(), static_cast<uint32_t>(subject.size()), tuning, report);
        uint32_t start = 0, end = 0;
        if (!searcher.Run(start, end)) return -1;
        matchText_.assign(subject.substr(start, end - start));
        matchStart_ = static_cast<int32_t>(start);
        matchLength_ = static_cast<int32_t>(end - start);
        return matchStart_;
    } catch (const std::bad_alloc&) {
        report.gaveUp = true;
        matchText_.clear();
        matchStart_ = -1;
        matchLength_ = 0;
        return -1;
    }
}
