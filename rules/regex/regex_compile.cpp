// Pattern to program: a recursive-descent parser that emits instructions as it goes.
// Groups nest at most nine deep (there are at most nine), so the parser's own
// recursion is bounded whatever the pattern.
#include "rules/regex/regex.h"
#include "rules/regex/regex_internal.h"

#include <algorithm>
#include <new>

using regex_internal::kNone;
using regex_internal::Op;

namespace {

constexpr int kMaxGroups = 9;

bool IsRepeat(char16_t c) { return c == u'*' || c == u'+' || c == u'?'; }

bool IsSpecial(char16_t c) {
    switch (c) {
    case u'^': case u'$': case u'.': case u'[': case u'(': case u')':
    case u'|': case u'?': case u'+': case u'*': case u'\\':
        return true;
    default:
        return false;
    }
}

}  // namespace

class RegexCompiler {
public:
    RegexCompiler(CRegex& re, const char16_t* pattern, std::size_t length)
        : re_(re), prog_(re.program_), p_(pattern), n_(length) {}

    bool Run();

private:
    // A piece of program under construction: its first instruction and the list of
    // its dangling exits (next or alt fields still to be set), threaded through
    // those fields themselves. A hole is instruction * 2 + (1 for alt).
    struct Frag {
        uint32_t start = kNone;
        uint32_t head = kNone;
        uint32_t tail = kNone;
        bool width = false;  // never matches the empty string
    };

    bool Fail(RegexError error, std::size_t offset) {
        re_.error_ = error;
        re_.errorOffset_ = offset;
        return false;
    }
    uint32_t Emit(Op op) {
        prog_.push_back(CRegex::Inst{op, Op::Match, kNone, kNone, 0, kNone});
        return static_cast<uint32_t>(prog_.size() - 1);
    }
    uint32_t& Hole(uint32_t hole) {
        CRegex::Inst& inst = prog_[hole >> 1];
        return (hole & 1) ? inst.alt : inst.next;
    }
    Frag Single(uint32_t inst, bool width) { return Frag{inst, inst * 2, inst * 2, width}; }
    void Patch(uint32_t head, uint32_t target) {
        while (head != kNone) {
            uint32_t& field = Hole(head);
            head = field;
            field = target;
        }
    }
    void JoinExits(Frag& into, uint32_t head, uint32_t tail) {
        if (head == kNone) return;
        if (into.head == kNone) into.head = head;
        else Hole(into.tail) = head;
        into.tail = tail;
    }

    bool ParseExpr(int depth, Frag& out);
    bool ParseAlternative(int depth, Frag& out);
    bool ParsePiece(Frag& out, bool& plainLiteral);
    bool ParseAtom(Frag& out, bool& simple, bool& literal);
    bool ParseSet(Frag& out);
    void ConsiderRequired(uint32_t inst);
    void Finish();
    bool FirstInfo();

    CRegex& re_;
    std::vector<CRegex::Inst>& prog_;
    const char16_t* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
    int groups_ = 0;
    uint32_t bestLiteral_ = kNone;  // longest literal of the single top-level alternative
    uint32_t bestLength_ = 0;
};

bool RegexCompiler::Run() {
    prog_.reserve(2 * n_ + 4);  // every pattern character emits at most two instructions
    re_.literals_.reserve(n_ + 1);
    Frag top;
    if (!ParseExpr(0, top)) return false;
    if (pos_ < n_) return Fail(RegexError::UnmatchedParen, pos_);  // only ) stops the top level early
    uint32_t match = Emit(Op::Match);
    Patch(top.head, match);
    re_.start_ = top.start;
    Finish();
    return true;
}

bool RegexCompiler::ParseExpr(int depth, Frag& out) {
    if (!ParseAlternative(depth, out)) return false;
    uint32_t lastSplit = kNone;
    while (pos_ < n_ && p_[pos_] == u'|') {
        ++pos_;
        if (depth == 0) bestLiteral_ = kNone;  // several top-level alternatives: no required literal
        Frag other;
        if (!ParseAlternative(depth, other)) return false;
        // a|b|c becomes Split(a, Split(b, c)): alternatives in order.
        uint32_t split = Emit(Op::Split);
        prog_[split].alt = other.start;
        if (lastSplit == kNone) {
            prog_[split].next = out.start;
            out.start = split;
        } else {
            prog_[split].next = prog_[lastSplit].alt;
            prog_[lastSplit].alt = split;
        }
        lastSplit = split;
        out.width = out.width && other.width;
        JoinExits(out, other.head, other.tail);
    }
    if (depth == 0 && lastSplit != kNone) bestLiteral_ = kNone;
    return true;
}

bool RegexCompiler::ParseAlternative(int depth, Frag& out) {
    out = Frag{};
    bool any = false;
    uint32_t literal = kNone;  // the previous piece, when it is a literal the next may extend
    while (pos_ < n_ && p_[pos_] != u'|' && p_[pos_] != u')') {
        Frag piece;
        bool plainLiteral = false;
        if (!ParsePiece(piece, plainLiteral)) return false;
        if (plainLiteral && literal != kNone) {
            // Adjacent literals ("ab\.c") become one string; their characters are
            // already contiguous in literals_.
            CRegex::Inst& prev = prog_[literal];
            CRegex::Inst& cur = prog_[piece.start];
            uint32_t prevOffset = prev.op == Op::Str ? prev.arg : prev.alt;
            uint32_t prevLength = prev.op == Op::Str ? prev.alt : 1;
            uint32_t curOffset = cur.op == Op::Str ? cur.arg : cur.alt;
            uint32_t curLength = cur.op == Op::Str ? cur.alt : 1;
            if (prevOffset + prevLength == curOffset && piece.start + 1 == prog_.size()) {
                prev.op = Op::Str;
                prev.arg = prevOffset;
                prev.alt = prevLength + curLength;
                prog_.pop_back();
                continue;
            }
        }
        if (depth == 0 && literal != kNone) ConsiderRequired(literal);
        if (!any) {
            out = piece;
            any = true;
        } else {
            Patch(out.head, piece.start);
            out.head = piece.head;
            out.tail = piece.tail;
            out.width = out.width || piece.width;
        }
        literal = plainLiteral ? piece.start : kNone;
    }
    if (depth == 0 && literal != kNone) ConsiderRequired(literal);
    if (!any) out = Single(Emit(Op::Jmp), false);  // an empty alternative matches the empty string
    return true;
}

void RegexCompiler::ConsiderRequired(uint32_t inst) {
    const CRegex::Inst& in = prog_[inst];
    uint32_t length = in.op == Op::Str ? in.alt : 1;
    if (length >= bestLength_ || bestLiteral_ == kNone) {  // the later one on equal length
        bestLiteral_ = inst;
        bestLength_ = length;
    }
}

bool RegexCompiler::ParsePiece(Frag& out, bool& plainLiteral) {
    bool simple = false;
    bool literal = false;
    if (!ParseAtom(out, simple, literal)) return false;
    if (pos_ >= n_ || !IsRepeat(p_[pos_])) {
        plainLiteral = literal;
        return true;
    }
    char16_t op = p_[pos_];
    if (op != u'?' && !out.width) return Fail(RegexError::EmptyRepeat, pos_);
    ++pos_;
    if (pos_ < n_ && IsRepeat(p_[pos_])) return Fail(RegexError::NestedRepeat, pos_);
    Frag atom = out;
    if (op == u'*' && simple) {
        CRegex::Inst& in = prog_[atom.start];
        in.item = in.op;
        in.op = Op::Star;
        out.width = false;
    } else if (op == u'*') {
        uint32_t loop = Emit(Op::Split);
        prog_[loop].next = atom.start;
        Patch(atom.head, loop);
        out = Frag{loop, loop * 2 + 1, loop * 2 + 1, false};
    } else if (op == u'+' && simple) {
        uint32_t star = Emit(Op::Star);
        CRegex::Inst& in = prog_[star];
        const CRegex::Inst& item = prog_[atom.start];
        in.item = item.op;
        in.arg = item.arg;
        in.alt = item.alt;
        Patch(atom.head, star);
        out = Frag{atom.start, star * 2, star * 2, true};
    } else if (op == u'+') {
        uint32_t loop = Emit(Op::Split);
        prog_[loop].next = atom.start;
        Patch(atom.head, loop);
        out = Frag{atom.start, loop * 2 + 1, loop * 2 + 1, true};
    } else {  // ?
        uint32_t split = Emit(Op::Split);
        prog_[split].next = atom.start;
        out = Frag{split, atom.head, atom.tail, false};
        JoinExits(out, split * 2 + 1, split * 2 + 1);
    }
    plainLiteral = false;
    return true;
}

bool RegexCompiler::ParseAtom(Frag& out, bool& simple, bool& literal) {
    char16_t c = p_[pos_];
    switch (c) {
    case u'^':
        ++pos_;
        out = Single(Emit(Op::Bol), false);
        return true;
    case u'$':
        ++pos_;
        out = Single(Emit(Op::Eol), false);
        return true;
    case u'.':
        ++pos_;
        out = Single(Emit(Op::Any), true);
        simple = true;
        return true;
    case u'[':
        simple = true;
        return ParseSet(out);
    case u'(': {
        if (groups_ >= kMaxGroups) return Fail(RegexError::TooManyGroups, pos_);
        ++groups_;
        std::size_t open = pos_++;
        if (!ParseExpr(1, out)) return false;
        if (pos_ >= n_) return Fail(RegexError::MissingParen, open);
        ++pos_;  // the )
        return true;
    }
    case u'*':
    case u'+':
    case u'?':
        return Fail(RegexError::NothingToRepeat, pos_);
    case u'\\': {
        if (pos_ + 1 >= n_) return Fail(RegexError::TrailingBackslash, pos_);
        uint32_t inst = Emit(Op::Char);
        prog_[inst].arg = p_[pos_ + 1];
        prog_[inst].alt = static_cast<uint32_t>(re_.literals_.size());
        re_.literals_.push_back(p_[pos_ + 1]);
        pos_ += 2;
        out = Single(inst, true);
        simple = literal = true;
        return true;
    }
    default: {
        // The longest run of ordinary characters; a repetition sign after a longer
        // run applies to its last character only, which becomes the next atom.
        std::size_t end = pos_;
        while (end < n_ && !IsSpecial(p_[end])) ++end;
        std::size_t length = end - pos_;
        if (length > 1 && end < n_ && IsRepeat(p_[end])) --length;
        uint32_t offset = static_cast<uint32_t>(re_.literals_.size());
        re_.literals_.append(p_ + pos_, length);
        uint32_t inst;
        if (length == 1) {
            inst = Emit(Op::Char);
            prog_[inst].arg = p_[pos_];
            prog_[inst].alt = offset;
            simple = true;
        } else {
            inst = Emit(Op::Str);
            prog_[inst].arg = offset;
            prog_[inst].alt = static_cast<uint32_t>(length);
        }
        pos_ += length;
        out = Single(inst, true);
        literal = true;
        return true;
    }
    }
}

bool RegexCompiler::ParseSet(Frag& out) {
    std::size_t open = pos_++;
    bool negated = false;
    if (pos_ < n_ && p_[pos_] == u'^') {
        negated = true;
        ++pos_;
    }
    std::vector<uint32_t>& ranges = re_.ranges_;
    if (ranges.capacity() == 0) ranges.reserve(n_);
    std::size_t first = ranges.size();
    char16_t previous = 0;
    if (pos_ < n_ && (p_[pos_] == u']' || p_[pos_] == u'-')) {
        previous = p_[pos_++];
        ranges.push_back(uint32_t(previous) << 16 | previous);
    }
    for (;;) {
        if (pos_ >= n_) return Fail(RegexError::MissingBracket, open);
        char16_t c = p_[pos_];
        if (c == u']') break;
        if (c == u'-' && pos_ + 1 < n_ && p_[pos_ + 1] != u']') {
            // A range from the character written before the - to the one after it.
            char16_t last = p_[pos_ + 1];
            if (previous > last) return Fail(RegexError::InvalidRange, pos_);
            ranges.push_back(uint32_t(previous) << 16 | last);
            previous = last;
            pos_ += 2;
            continue;
        }
        ranges.push_back(uint32_t(c) << 16 | c);  // a - before ] or the end is a member
        previous = c;
        ++pos_;
    }
    ++pos_;  // the ]
    // Sort and merge, so that matching can stop early or search by halves.
    std::sort(ranges.begin() + first, ranges.end());
    std::size_t kept = first;
    for (std::size_t i = first; i < ranges.size(); ++i) {
        uint32_t lo = ranges[i] >> 16, hi = ranges[i] & 0xFFFF;
        if (kept > first && lo <= (ranges[kept - 1] & 0xFFFF) + 1) {
            uint32_t prevHi = ranges[kept - 1] & 0xFFFF;
            if (hi > prevHi) ranges[kept - 1] = (ranges[kept - 1] & 0xFFFF0000u) | hi;
        } else {
            ranges[kept++] = ranges[i];
        }
    }
    ranges.resize(kept);
    uint32_t inst = Emit(negated ? Op::NotSet : Op::Set);
    prog_[inst].arg = static_cast<uint32_t>(first);
    prog_[inst].alt = static_cast<uint32_t>(kept - first);
    out = Single(inst, true);
    return true;
}

void RegexCompiler::Finish() {
    auto resolve = [this](uint32_t target) {
        while (target != kNone && prog_[target].op == Op::Jmp) target = prog_[target].next;
        return target;
    };
    for (CRegex::Inst& in : prog_) {
        if (in.op == Op::Jmp) continue;
        in.next = resolve(in.next);
        if (in.op == Op::Split) in.alt = resolve(in.alt);
    }
    re_.start_ = resolve(re_.start_);

    // Failed states are remembered where paths meet (two or more ways in, the start
    // counting as one) and at every repetition, whose positions stand for its loop.
    for (CRegex::Inst& in : prog_) in.memo = 0;
    ++prog_[re_.start_].memo;
    for (const CRegex::Inst& in : prog_) {
        if (in.op == Op::Jmp || in.op == Op::Match) continue;
        ++prog_[in.next].memo;
        if (in.op == Op::Split) ++prog_[in.alt].memo;
    }
    uint32_t rows = 0, states = 0;
    for (CRegex::Inst& in : prog_) {
        bool remember = in.op == Op::Star || (in.memo >= 2 && in.op != Op::Match && in.op != Op::Jmp);
        in.memo = remember ? rows++ : kNone;
        states += in.op == Op::Str ? in.alt : 1;
    }
    re_.memoRows_ = rows;
    re_.states_ = states;

    const CRegex::Inst& first = prog_[re_.start_];
    re_.pureLiteral_ = (first.op == Op::Char || first.op == Op::Str) && prog_[first.next].op == Op::Match;
    if (bestLiteral_ != kNone) {
        const CRegex::Inst& in = prog_[bestLiteral_];
        re_.requiredOffset_ = in.op == Op::Str ? in.arg : in.alt;
        re_.requiredLength_ = bestLength_;
    }
    if (first.op == Op::Star) {
        re_.leadingRepeat_ = re_.start_;
    } else if (first.op == Op::Any || first.op == Op::Char || first.op == Op::Set || first.op == Op::NotSet) {
        const CRegex::Inst& star = prog_[first.next];
        if (star.op == Op::Star && star.item == first.op && star.arg == first.arg &&
            (first.op == Op::Char || star.alt == first.alt))
            re_.leadingRepeat_ = first.next;
    }
    FirstInfo();
}

// What the first step of every match looks like: the shortcuts of the search.
bool RegexCompiler::FirstInfo() {
    constexpr int kMax = 64;  // larger openings simply go without shortcuts
    uint32_t stack[kMax], seen[kMax];
    int depth = 0, seenCount = 0;
    bool bol = false, other = false, firstChar = true, blocked = false;
    char16_t fc = 0;
    bool haveFc = false;
    uint64_t set[4] = {};
    auto addChar = [&](char16_t c) {
        set[(c & 0xFF) >> 6] |= uint64_t(1) << (c & 63);
        if (haveFc && fc != c) firstChar = false;
        fc = c;
        haveFc = true;
    };
    auto addAll = [&] {
        for (uint64_t& w : set) w = ~uint64_t(0);
        firstChar = false;
    };
    auto addItem = [&](Op op, uint32_t arg, uint32_t alt) {
        other = true;
        if (op == Op::Char) {
            addChar(static_cast<char16_t>(arg));
        } else if (op == Op::Str) {
            addChar(re_.literals_[arg]);
        } else if (op == Op::Set) {
            firstChar = false;
            for (uint32_t i = 0; i < alt; ++i) {
                uint32_t lo = re_.ranges_[arg + i] >> 16, hi = re_.ranges_[arg + i] & 0xFFFF;
                if (hi - lo >= 255) {
                    addAll();
                    break;
                }
                for (uint32_t c = lo; c <= hi; ++c) set[(c & 0xFF) >> 6] |= uint64_t(1) << (c & 63);
            }
        } else {
            addAll();
        }
    };
    stack[depth++] = re_.start_;
    while (depth > 0 && !blocked) {
        uint32_t pc = stack[--depth];
        if (std::find(seen, seen + seenCount, pc) != seen + seenCount) continue;
        if (seenCount == kMax) {
            blocked = true;
            break;
        }
        seen[seenCount++] = pc;
        const CRegex::Inst& in = prog_[pc];
        switch (in.op) {
        case Op::Bol:
            bol = true;
            break;
        case Op::Eol:
        case Op::Match:
            blocked = true;  // may match without consuming anything
            break;
        case Op::Split:
            if (depth + 2 > kMax) {
                blocked = true;
                break;
            }
            stack[depth++] = in.alt;
            stack[depth++] = in.next;
            break;
        case Op::Star:
            addItem(in.item, in.arg, in.alt);
            stack[depth++] = in.next;
            break;
        default:
            addItem(in.op, in.arg, in.alt);
            break;
        }
    }
    if (blocked) return false;
    if (bol && !other) {
        re_.anchored_ = true;
        return true;
    }
    if (bol) return false;  // ^a|b: position 0 is special, the others are not
    if (firstChar && haveFc) {
        re_.hasFirstChar_ = true;
        re_.firstChar_ = fc;
    }
    bool all = true;
    for (uint64_t w : set) all = all && w == ~uint64_t(0);
    if (!all) {
        re_.hasFirstSet_ = true;
        std::copy(set, set + 4, re_.firstSet_);
    }
    return true;
}

CRegex::CRegex() = default;
CRegex::~CRegex() = default;
CRegex::CRegex(CRegex&& other) noexcept = default;
CRegex& CRegex::operator=(CRegex&& other) noexcept = default;

void CRegex::Reset() {
    program_.clear();
    literals_.clear();
    ranges_.clear();
    start_ = memoRows_ = states_ = 0;
    compiled_ = anchored_ = pureLiteral_ = hasFirstChar_ = hasFirstSet_ = false;
    firstChar_ = 0;
    std::fill(firstSet_, firstSet_ + 4, 0);
    leadingRepeat_ = kNone;
    requiredOffset_ = requiredLength_ = 0;
    error_ = RegexError::None;
    errorOffset_ = 0;
    matchStart_ = -1;
    matchLength_ = 0;
    matchText_.clear();
}

bool CRegex::Compile(const char16_t* pattern) {
    if (!pattern) {
        Reset();
        error_ = RegexError::NoPattern;
        return false;
    }
    return CompileText(pattern, std::char_traits<char16_t>::length(pattern));
}

bool CRegex::Compile(const char16_t* pattern, std::size_t length) {
    if (!pattern) {
        Reset();
        error_ = RegexError::NoPattern;
        return false;
    }
    return CompileText(pattern, length);
}

bool CRegex::Compile(std::u16string_view pattern) { return CompileText(pattern.data(), pattern.size()); }

bool CRegex::CompileText(const char16_t* pattern, std::size_t length) {
    Reset();
    // Instruction and hole numbers must fit in 32 bits, and the program (up to two
    // instructions per character) in one array of the target: on i686 that is the
    // tighter bound, and reserving past it would throw length_error.
    if (length >= (std::size_t(1) << 29) || length > (program_.max_size() - 4) / 2) {
        error_ = RegexError::OutOfMemory;
        return false;
    }
    try {
        RegexCompiler compiler(*this, pattern, length);
        if (compiler.Run()) {
            compiled_ = true;
            return true;
        }
    } catch (const std::bad_alloc&) {
        error_ = RegexError::OutOfMemory;
    }
    RegexError error = error_;
    std::size_t offset = errorOffset_;
    Reset();
    error_ = error;
    errorOffset_ = offset;
    return false;
}

const char* CRegex::ErrorText(RegexError error) {
    switch (error) {
    case RegexError::None: return "no error";
    case RegexError::NoPattern: return "no pattern";
    case RegexError::TrailingBackslash: return "backslash at the end of the pattern";
    case RegexError::MissingBracket: return "[ without ]";
    case RegexError::InvalidRange: return "range out of order in []";
    case RegexError::TooManyGroups: return "more than 9 groups";
    case RegexError::MissingParen: return "( without )";
    case RegexError::UnmatchedParen: return ") without (";
    case RegexError::NothingToRepeat: return "*, + or ? follows nothing";
    case RegexError::NestedRepeat: return "repetition of a repetition";
    case RegexError::EmptyRepeat: return "* or + applied to something that can match the empty string";
    case RegexError::OutOfMemory: return "out of memory";
    }
    return "unknown error";
}
