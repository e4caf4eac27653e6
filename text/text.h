// Byte-string primitives over code-page-936 text: the operations every other folder picks values
// out of pages, headers and URLs with. Positions are 1-based, a failed search is -1, and the
// character-aligned operations step by the two-byte rule (a byte >= 0x80 takes the next one along).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Text: bytes in code page 936 without zero bytes; absent and empty are the same.
using Text = std::string;
// Bytes: a length-counted byte string that may hold zero bytes (bodies, images, blocks).
using Bytes = std::vector<std::uint8_t>;
// A text list, read by item count and 1-based index.
using TextList = std::vector<Text>;

// --- Texts -----------------------------------------------------------------------------------

int TextLength(std::string_view text);
Text TextLeft(std::string_view text, int n);
Text TextRight(std::string_view text, int n);
Text TextMid(std::string_view text, int start, int n);
int FindText(std::string_view text, std::string_view sought, std::optional<int> start = std::nullopt,
             bool ignoreCase = false);
int FindTextReverse(std::string_view text, std::string_view sought, std::optional<int> start = std::nullopt,
                    bool ignoreCase = false);
Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                 std::optional<int> start, std::optional<int> count, bool caseSensitive);
TextList SplitText(std::string_view text, std::string_view separator,
                   std::optional<int> maxItems = std::nullopt);
Text TrimText(std::string_view text);
Text RemoveSpaces(std::string_view text);
Text ToLowerText(std::string_view text);
Text ToUpperText(std::string_view text);
Text RepeatText(int n, std::string_view text);
Text BlankText(int n);
Text CharText(int code);
Text NumberToText(int number);
Text NumberToText(double number);
int TextToInt(std::string_view text);
Text JoinText(std::initializer_list<std::string_view> parts);
int CompareText(std::string_view a, std::string_view b);

// Item access of a text list; an index outside 1..count yields the empty text.
int ListCount(const TextList& list);
Text ListItem(const TextList& list, int index);

// --- Bytes -----------------------------------------------------------------------------------

Bytes TextToBytes(std::string_view text);
Text BytesToText(const Bytes& bytes);
int BytesLength(const Bytes& bytes);
Bytes BytesLeft(const Bytes& bytes, int n);
Bytes BlankBytes(int n);
Bytes JoinBytes(std::initializer_list<std::span<const std::uint8_t>> parts);
bool BytesEqual(const Bytes& a, const Bytes& b);
std::int32_t BitOr(std::initializer_list<std::int32_t> values);

// --- Date and time ---------------------------------------------------------------------------

// A local date and time of day in whole seconds, without time zone: seconds counted from
// 0001-01-01 00:00:00 on the proleptic Gregorian calendar.
struct DateTime {
    std::int64_t seconds = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second);
DateTime CurrentTime();
DateTime TextToTime(std::string_view text);
double TimeDifference(DateTime t1, DateTime t2, int unit);

} // namespace kv
