// The byte-string primitives. Every character-aligned scan steps with CharLength, so a match can
// never start on the second byte of a two-byte character.
#include "text/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace kv {
namespace {

constexpr std::size_t npos = std::string_view::npos;

std::size_t CharLength(std::string_view s, std::size_t p) {
    return static_cast<unsigned char>(s[p]) >= 0x80 ? 2 : 1;
}

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool MatchesAt(std::string_view s, std::size_t p, std::string_view sought, bool fold) {
    if (!fold) {
        return std::memcmp(s.data() + p, sought.data(), sought.size()) == 0;
    }
    for (std::size_t i = 0; i < sought.size(); ++i) {
        if (FoldAscii(static_cast<unsigned char>(s[p + i])) !=
            FoldAscii(static_cast<unsigned char>(sought[i]))) {
            return false;
        }
    }
    return true;
}

// The first match of `sought` (not empty) at a character boundary at or after `from`, which must
// itself be a boundary, lying entirely before `end`. Exact searches jump with find() and then
// walk the boundaries up to the hit, so every byte is walked once.
std::size_t NextAlignedMatch(std::string_view s, std::size_t from, std::size_t end, std::string_view sought,
                             bool fold) {
    std::string_view region = s.substr(0, end);
    std::size_t p = from;
    while (p < end && end - p >= sought.size()) {
        if (fold) {
            if (MatchesAt(region, p, sought, true)) {
                return p;
            }
            p += CharLength(region, p);
            continue;
        }
        std::size_t hit = region.find(sought, p);
        if (hit == npos) {
            return npos;
        }
        while (p < hit) {
            p += CharLength(region, p);
        }
        if (p == hit) {
            return hit;
        }
        // The hit began on a second byte; p is the boundary just after it.
    }
    return npos;
}

bool IsFullWidthSpace(std::string_view s, std::size_t p) {
    return p + 1 < s.size() && static_cast<unsigned char>(s[p]) == 0xA1 &&
           static_cast<unsigned char>(s[p + 1]) == 0xA1;
}

// Length of the blank at boundary p, or 0 when the character there is not a blank.
std::size_t BlankLengthAt(std::string_view s, std::size_t p) {
    if (s[p] == ' ') {
        return 1;
    }
    return IsFullWidthSpace(s, p) ? 2 : 0;
}

int ClampToInt(long long v) {
    return static_cast<int>(
        std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

Text FoldCase(std::string_view text, bool toLower) {
    Text out(text);
    for (std::size_t p = 0; p < out.size();) {
        std::size_t n = CharLength(out, p);
        if (n == 1) {
            char c = out[p];
            if (toLower && c >= 'A' && c <= 'Z') {
                out[p] = static_cast<char>(c + 32);
            } else if (!toLower && c >= 'a' && c <= 'z') {
                out[p] = static_cast<char>(c - 32);
            }
        }
        p += n;
    }
    return out;
}

} // namespace

int TextLength(std::string_view text) {
    return static_cast<int>(text.size());
}

Text TextLeft(std::string_view text, int n) {
    if (n <= 0) {
        return {};
    }
    return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text TextRight(std::string_view text, int n) {
    if (n <= 0) {
        return {};
    }
    std::size_t k = std::min(text.size(), static_cast<std::size_t>(n));
    return Text(text.substr(text.size() - k));
}

Text TextMid(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) {
        return {};
    }
    return Text(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

int FindText(std::string_view text, std::string_view sought, std::optional<int> start, bool ignoreCase) {
    std::size_t b = start ? static_cast<std::size_t>(std::max(*start - 1, 0)) : 0;
    if (b > 0 && b >= text.size()) {
        return -1;
    }
    if (sought.empty()) {
        return text.size() > b ? 1 : -1;
    }
    // The region starts at b; boundaries are counted from there.
    std::size_t hit = NextAlignedMatch(text, b, text.size(), sought, ignoreCase);
    return hit == npos ? -1 : static_cast<int>(hit + 1);
}

int FindTextReverse(std::string_view text, std::string_view sought, std::optional<int> start,
                    bool ignoreCase) {
    std::size_t regionLength = text.size();
    if (start) {
        if (*start <= 1) {
            return -1;
        }
        regionLength = std::min(text.size(), static_cast<std::size_t>(*start - 1));
    }
    if (sought.empty()) {
        return regionLength > 0 ? 1 : -1;
    }
    int last = -1;
    std::size_t p = 0;
    while (true) {
        std::size_t hit = NextAlignedMatch(text, p, regionLength, sought, ignoreCase);
        if (hit == npos) {
            return last;
        }
        last = static_cast<int>(hit + 1);
        p = hit + CharLength(text, hit);
    }
}

Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                 std::optional<int> start, std::optional<int> count, bool caseSensitive) {
    std::size_t prefix = (start && *start >= 2) ? static_cast<std::size_t>(*start - 1) : 0;
    if (text.empty() || sought.empty() || prefix >= text.size() || (count && *count == 0)) {
        return Text(text);
    }
    int limit = (count && *count > 0) ? *count : -1;
    Text out;
    out.reserve(text.size());
    out.append(text.substr(0, prefix));
    std::size_t p = prefix;
    int made = 0;
    while (p < text.size() && made != limit) {
        std::size_t hit = NextAlignedMatch(text, p, text.size(), sought, !caseSensitive);
        if (hit == npos) {
            break;
        }
        out.append(text.substr(p, hit - p));
        out.append(replacement);
        p = hit + sought.size();
        ++made;
    }
    out.append(text.substr(std::min(p, text.size())));
    return out;
}

TextList SplitText(std::string_view text, std::string_view separator, std::optional<int> maxItems) {
    TextList items;
    if (text.empty() || (maxItems && *maxItems <= 0)) {
        return items;
    }
    if (separator.empty()) {
        items.emplace_back(text);
        return items;
    }
    std::size_t limit = maxItems ? static_cast<std::size_t>(*maxItems) : npos;
    std::size_t cut = 0;
    while (items.size() < limit) {
        std::size_t hit = NextAlignedMatch(text, cut, text.size(), separator, false);
        if (hit == npos) {
            break;
        }
        items.emplace_back(text.substr(cut, hit - cut));
        cut = hit + separator.size();
    }
    if (cut < text.size() && items.size() < limit) {
        items.emplace_back(text.substr(cut));
    }
    return items;
}

Text TrimText(std::string_view text) {
    std::size_t first = npos;
    std::size_t lastEnd = 0;
    for (std::size_t p = 0; p < text.size();) {
        std::size_t blank = BlankLengthAt(text, p);
        std::size_t n = blank ? blank : std::min(CharLength(text, p), text.size() - p);
        if (!blank) {
            if (first == npos) {
                first = p;
            }
            lastEnd = p + n;
        }
        p += n;
    }
    return first == npos ? Text() : Text(text.substr(first, lastEnd - first));
}

Text RemoveSpaces(std::string_view text) {
    Text out;
    out.reserve(text.size());
    for (std::size_t p = 0; p < text.size();) {
        std::size_t blank = BlankLengthAt(text, p);
        std::size_t n = blank ? blank : std::min(CharLength(text, p), text.size() - p);
        if (!blank) {
            out.append(text.substr(p, n));
        }
        p += n;
    }
    return out;
}

Text ToLowerText(std::string_view text) {
    return FoldCase(text, true);
}

Text ToUpperText(std::string_view text) {
    return FoldCase(text, false);
}

Text RepeatText(int n, std::string_view text) {
    Text out;
    if (n <= 0 || text.empty()) {
        return out;
    }
    out.reserve(text.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        out.append(text);
    }
    return out;
}

Text BlankText(int n) {
    return n < 1 ? Text() : Text(static_cast<std::size_t>(n), ' ');
}

Text CharText(int code) {
    auto byte = static_cast<unsigned char>(code & 0xFF);
    return byte == 0 ? Text() : Text(1, static_cast<char>(byte));
}

Text NumberToText(int number) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", number);
    return buffer;
}

Text NumberToText(double number) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.13g", number);
    return buffer;
}

int TextToInt(std::string_view text) {
    // Full-width forms of ASCII first, so "１２３" reads as 123.
    Text ascii;
    ascii.reserve(text.size());
    for (std::size_t p = 0; p < text.size();) {
        std::size_t n = CharLength(text, p);
        if (n == 2 && p + 1 < text.size()) {
            auto lead = static_cast<unsigned char>(text[p]);
            auto trail = static_cast<unsigned char>(text[p + 1]);
            if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
                ascii.push_back(static_cast<char>(trail - 0xA1 + 0x21));
            } else if (lead == 0xA1 && trail == 0xA1) {
                ascii.push_back(' ');
            } else {
                ascii.append(text.substr(p, 2));
            }
        } else {
            ascii.append(text.substr(p, std::min(n, text.size() - p)));
        }
        p += n;
    }
    std::size_t p = 0;
    while (p < ascii.size() && std::strchr(" \t\n\v\f\r", ascii[p]) != nullptr && ascii[p] != '\0') {
        ++p;
    }
    bool negative = false;
    if (p < ascii.size() && (ascii[p] == '+' || ascii[p] == '-')) {
        negative = ascii[p] == '-';
        ++p;
    }
    long long value = 0;
    for (; p < ascii.size() && ascii[p] >= '0' && ascii[p] <= '9'; ++p) {
        if (value <= std::numeric_limits<int>::max() + 1LL) {
            value = value * 10 + (ascii[p] - '0');
        }
    }
    return ClampToInt(negative ? -value : value);
}

Text JoinText(std::initializer_list<std::string_view> parts) {
    std::size_t total = 0;
    for (auto part : parts) {
        total += part.size();
    }
    Text out;
    out.reserve(total);
    for (auto part : parts) {
        out.append(part);
    }
    return out;
}

int CompareText(std::string_view a, std::string_view b) {
    // string_view compares as unsigned bytes through char_traits<char>::compare (memcmp).
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int ListCount(const TextList& list) {
    return static_cast<int>(list.size());
}

Text ListItem(const TextList& list, int index) {
    if (index < 1 || static_cast<std::size_t>(index) > list.size()) {
        return {};
    }
    return list[static_cast<std::size_t>(index - 1)];
}

Bytes TextToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Text BytesToText(const Bytes& bytes) {
    auto zero = std::find(bytes.begin(), bytes.end(), 0);
    return Text(bytes.begin(), zero);
}

int BytesLength(const Bytes& bytes) {
    return static_cast<int>(bytes.size());
}

Bytes BytesLeft(const Bytes& bytes, int n) {
    if (n < 0) {
        return {};
    }
    std::size_t k = std::min(bytes.size(), static_cast<std::size_t>(n));
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(k));
}

Bytes BlankBytes(int n) {
    return n <= 0 ? Bytes() : Bytes(static_cast<std::size_t>(n), 0);
}

Bytes JoinBytes(std::initializer_list<std::span<const std::uint8_t>> parts) {
    Bytes out;
    for (auto part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

bool BytesEqual(const Bytes& a, const Bytes& b) {
    return a == b;
}

std::int32_t BitOr(std::initializer_list<std::int32_t> values) {
    std::uint32_t out = 0;
    for (auto v : values) {
        out |= static_cast<std::uint32_t>(v);
    }
    return static_cast<std::int32_t>(out);
}

// --- Date and time ---------------------------------------------------------------------------

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

// Days from 0001-01-01 on the proleptic Gregorian calendar (Howard Hinnant's civil algorithm,
// shifted so that day 0 is 0001-01-01).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    constexpr std::int64_t DaysTo0001 = 306; // 0000-03-01 .. 0001-01-01
    return era * 146097 + doe - DaysTo0001;
}

struct Civil {
    std::int64_t year;
    int month, day;
};

Civil CivilFromDays(std::int64_t days) {
    std::int64_t z = days + 306;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

int DaysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Reads 1 to `maxDigits` decimal digits at p.
bool ReadNumber(std::string_view s, std::size_t& p, int maxDigits, int& value) {
    std::size_t begin = p;
    value = 0;
    while (p < s.size() && p - begin < static_cast<std::size_t>(maxDigits) && s[p] >= '0' && s[p] <= '9') {
        value = value * 10 + (s[p] - '0');
        ++p;
    }
    return p > begin;
}

bool Expect(std::string_view s, std::size_t& p, char c) {
    if (p < s.size() && s[p] == c) {
        ++p;
        return true;
    }
    return false;
}

std::int32_t TruncateToInt32(double v) {
    if (!(v == v)) {
        return 0;
    }
    v = std::trunc(v);
    return static_cast<std::int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

} // namespace

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
    return {DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600LL + minute * 60LL + second};
}

DateTime CurrentTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec);
}

DateTime TextToTime(std::string_view text) {
    const DateTime earliest = MakeDateTime(100, 1, 1, 0, 0, 0);
    Text trimmed = TrimText(text);
    std::string_view s = trimmed;
    std::size_t p = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ReadNumber(s, p, 4, year) || !Expect(s, p, '-') || !ReadNumber(s, p, 2, month) ||
        !Expect(s, p, '-') || !ReadNumber(s, p, 2, day)) {
        return earliest;
    }
    if (p < s.size()) {
        std::size_t blanks = p;
        while (p < s.size() && BlankLengthAt(s, p)) {
            p += BlankLengthAt(s, p);
        }
        if (p == blanks || !ReadNumber(s, p, 2, hour) || !Expect(s, p, ':') || !ReadNumber(s, p, 2, minute) ||
            !Expect(s, p, ':') || !ReadNumber(s, p, 2, second) || p != s.size()) {
            return earliest;
        }
    }
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return earliest;
    }
    return MakeDateTime(year, month, day, hour, minute, second);
}

double TimeDifference(DateTime t1, DateTime t2, int unit) {
    unit = std::clamp(unit, 1, 8);
    if (t1 == t2) {
        return 0;
    }
    const double days = static_cast<double>(t1.seconds - t2.seconds) / SecondsPerDay;
    // The small bias absorbs the binary rounding of day fractions; it is applied away from zero
    // so that an earlier t1 gives the negated count rather than one too few.
    auto scaled = [days](double perDay) {
        const double magnitude = std::fabs(days) * perDay + 5.787037037037037e-6;
        return static_cast<double>(TruncateToInt32(days < 0 ? -magnitude : magnitude));
    };
    switch (unit) {
    case 8:
        return scaled(86400);
    case 7:
        return scaled(1440);
    case 6:
        return scaled(24);
    case 5:
        return scaled(1);
    case 4:
        return scaled(1.0 / 7);
    default: {
        Civil a = CivilFromDays(t1.seconds / SecondsPerDay);
        Civil b = CivilFromDays(t2.seconds / SecondsPerDay);
        const auto months = static_cast<double>((a.year - b.year) * 12 + (a.month - b.month));
        if (unit == 3) {
            return months;
        }
        return unit == 2 ? std::trunc(months / 3) : static_cast<double>(a.year - b.year);
    }
    }
}

} // namespace kv
