#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "qasm/text/text.hpp"
#include "test_support.hpp"

namespace {

using namespace corvane::qasm3::detail;
using corvane::qasm3::Location;
using namespace std::string_view_literals;

// ------------------------------------------------------------------ number formats

struct FormatRow {
  double value;
  std::string_view shortest;
  std::string_view g15;
};

// Expected texts are what the host prints with repr(x) and format(x, '.15g').
constexpr FormatRow kFormatRows[] = {
    {0.0, "0.0", "0"},
    {-0.0, "-0.0", "-0"},
    {1.0, "1.0", "1"},
    {-1.5, "-1.5", "-1.5"},
    {0.1, "0.1", "0.1"},
    {0.3333333333333333, "0.3333333333333333", "0.333333333333333"},
    {-2.718281828459045, "-2.718281828459045", "-2.71828182845905"},
    {1000000000000000.0, "1000000000000000.0", "1e+15"},
    {1e+16, "1e+16", "1e+16"},
    {0.0001, "0.0001", "0.0001"},
    {1e-05, "1e-05", "1e-05"},
    {1234567890123456.0, "1234567890123456.0", "1.23456789012346e+15"},
    {999999999999999.5, "999999999999999.5", "1e+15"},
    {123456789012345.6, "123456789012345.6", "123456789012346"},
    {99999999999999.98, "99999999999999.98", "100000000000000"},
    {1e+23, "1e+23", "1e+23"},
    {5e-324, "5e-324", "4.94065645841247e-324"},
    {1.7976931348623157e+308, "1.7976931348623157e+308", "1.79769313486232e+308"},
    {2.2250738585072014e-308, "2.2250738585072014e-308", "2.2250738585072e-308"},
    {9999999999999998.0, "9999999999999998.0", "1e+16"},
    {0.30000000000000004, "0.30000000000000004", "0.3"},
    {1.2345678901234567e+19, "1.2345678901234567e+19", "1.23456789012346e+19"},
    {std::numeric_limits<double>::infinity(), "inf", "inf"},
    {-std::numeric_limits<double>::infinity(), "-inf", "-inf"},
    {std::numeric_limits<double>::quiet_NaN(), "nan", "nan"},
    {-std::numeric_limits<double>::quiet_NaN(), "nan", "nan"},
};

// The shortest text also reads back to the same value, sign included.
TEST(NumberFormat, ShortestAndG15MatchTheHost) {
  for (const FormatRow& row : kFormatRows) {
    EXPECT_EQ(shortest(row.value), row.shortest) << row.shortest;
    EXPECT_EQ(g15(row.value), row.g15) << row.shortest;
    if (std::isnan(row.value)) continue;
    const std::optional<double> back = read_float(shortest(row.value));
    ASSERT_TRUE(back.has_value()) << row.shortest;
    EXPECT_EQ(*back, row.value) << row.shortest;
    EXPECT_EQ(std::signbit(*back), std::signbit(row.value)) << row.shortest;
  }
}

TEST(NumberFormat, IntegerExtremes) {
  EXPECT_EQ(int_text(0), "0");
  EXPECT_EQ(int_text(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(int_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

// ------------------------------------------------------------------ reading floats

struct FloatRow {
  std::string_view text;
  double value;
};

const FloatRow kAcceptedFloats[] = {
    {"1", 1.0},
    {"  -2.5  ", -2.5},
    {"+.5", 0.5},
    {"5.", 5.0},
    {"1e3", 1000.0},
    {"1E+3", 1000.0},
    {"2.5e-3", 0.0025},
    {"1_000.000_1", 1000.0001},
    {"1e1_0", 1e10},
    {"007", 7.0},
    {"\t\n\v\f\r 3 ", 3.0},
    {"\u00a01\u2003", 1.0},          // Unicode whitespace around
    {"\u0966.\u0665e\u0662", 50.0},  // Devanagari zero, Arabic-Indic five and two
    {"\uff11_\uff12", 12.0},         // fullwidth digits with an underscore
    {"\U0001d7d9e1", 10.0},          // mathematical double-struck one
    {"0.1", 0.1},
    {"9007199254740993", 9007199254740992.0},  // ties to even
    {"1.7976931348623157e308", 1.7976931348623157e308},
    {"2.4703282292062328e-324", 5e-324},  // just above half the smallest subnormal
    {"2.4703282292062327e-324", 0.0},     // just below: rounds to zero
    {"1e-310", 1e-310},
    {"1e400", std::numeric_limits<double>::infinity()},
    {"-1e99999999999999999999", -std::numeric_limits<double>::infinity()},
    {"1e-99999999999999999999", 0.0},
    {"0e99999999999999999999", 0.0},
    {"0.000000000000000000000000000000000000000000000000000000000000000000000001e372", 1e300},
    {"-Infinity", -std::numeric_limits<double>::infinity()},
    {"+iNF", std::numeric_limits<double>::infinity()},
};

TEST(ReadFloat, AcceptsWhatTheHostAccepts) {
  for (const FloatRow& row : kAcceptedFloats) {
    const std::optional<double> value = read_float(row.text);
    ASSERT_TRUE(value.has_value()) << row.text;
    EXPECT_EQ(*value, row.value) << row.text;
  }
}

TEST(ReadFloat, LongMantissaRoundsCorrectly) {
  // Digits far past what a double holds still round once, correctly.
  const std::string digits = "0." + std::string(299, '0') + "1e299";
  EXPECT_EQ(read_float(digits), 0.1);
  const std::string ones(400, '1');
  EXPECT_EQ(read_float(ones), std::numeric_limits<double>::infinity());
  EXPECT_EQ(read_float(ones + "e-390"), 1111111111.1111112);
}

TEST(ReadFloat, KeepsSignsOfZeroAndNan) {
  EXPECT_TRUE(std::signbit(*read_float("-0")));
  EXPECT_TRUE(std::signbit(*read_float("-1e-999")));
  EXPECT_FALSE(std::signbit(*read_float("0.0")));
  const std::optional<double> nan = read_float(" -NaN ");
  ASSERT_TRUE(nan.has_value());
  EXPECT_TRUE(std::isnan(*nan));
  EXPECT_TRUE(std::signbit(*nan));
  EXPECT_TRUE(std::isnan(*read_float("nan")));
}

constexpr std::string_view kRejectedFloats[] = {
    "",          " ",         ".",         "+",       "-",       "e5",
    "1e",        "1e+",       "1e-",       "--1",     "+-1",     "+ 1",
    "1 2",       "1,5",       "0x10",      "1__0",    "_1",      "1_",
    "1_.5",      "1._5",      "1_e5",      "1e_5",    "1e5_",    "_",
    "in_f",      "infinit",   "infinityy", "nan(1)",  "nana",    "in",
    "\0341",  // U+001C is whitespace, but not around a number
    "1\x1f",     "1\u200b",   "\u00b2",    "1\u00b2", "1\u2155", "\u0661\u066b\u0665",
    "1 _0",      "1\u00a0_0", "1.5.2",     "1e2e3",   "1e2.5",   "++1",
    "inf inity", "1d",        "1f",        "1\u0300",
};

TEST(ReadFloat, RejectsWhatTheHostRejects) {
  for (std::string_view text : kRejectedFloats) {
    EXPECT_EQ(read_float(text), std::nullopt) << text;
  }
  EXPECT_EQ(read_float("1\0"sv), std::nullopt);
  EXPECT_EQ(read_float("\0"sv), std::nullopt);
}

TEST(ReadDecimalDigits, ReadsDigitsOfAnyScriptUpToInt64) {
  const std::pair<std::string_view, std::optional<std::int64_t>> rows[] = {
      {"0", 0},
      {"00012", 12},
      {"\u0661\u0662\u0663", 123},
      {"\uff19\u0669", 99},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"9223372036854775808", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"12a", std::nullopt},
  };
  for (const auto& [text, expected] : rows)
    EXPECT_EQ(read_decimal_digits(text), expected) << text;
}

// ------------------------------------------------------------------ quoted literals

struct QuotedRow {
  std::string_view text;
  std::string_view literal;
};

// Expected literals are what the host's repr() prints.
constexpr QuotedRow kQuotedRows[] = {
    {"", "''"},
    {"plain", "'plain'"},
    {"it's", "\"it's\""},
    {"say \"hi\"", "'say \"hi\"'"},
    {"both ' and \"", "'both \\' and \"'"},
    {"a\\b", "'a\\\\b'"},
    {"\\'", "\"\\\\'\""},
    {"tab\011here", "'tab\\there'"},
    {"line\012break\015", "'line\\nbreak\\r'"},
    {"\000\001\037"sv, "'\\x00\\x01\\x1f'"},
    {"del\177", "'del\\x7f'"},
    {"\u0080\u009f", "'\\x80\\x9f'"},
    {"nbsp\u00a0", "'nbsp\\xa0'"},
    {"soft\u00adhyphen", "'soft\\xadhyphen'"},
    {"caf\u00e9", "'caf\u00e9'"},
    {"zwsp\u200b", "'zwsp\\u200b'"},
    {"ls\u2028", "'ls\\u2028'"},
    {"pua\ue000", "'pua\\ue000'"},
    {"face\U0001f600", "'face\U0001f600'"},
    {"tag\U000e0001", "'tag\\U000e0001'"},
    {"\u0378", "'\\u0378'"},
};

TEST(Quoted, MatchesTheHostsTextLiterals) {
  for (const QuotedRow& row : kQuotedRows) {
    EXPECT_EQ(quoted(row.text), row.literal) << row.literal;
    std::string appended = "<";
    append_quoted(appended, row.text);
    EXPECT_EQ(appended, "<" + std::string(row.literal)) << row.literal;
  }
}

TEST(Quoted, BracketedSequences) {
  EXPECT_EQ(bracketed(std::vector<std::string>{}), "[]");
  EXPECT_EQ(bracketed(std::vector<std::string>{"a"}), "['a']");
  EXPECT_EQ(bracketed(std::vector<std::string_view>{"a", "it's", ""}), "['a', \"it's\", '']");
}

// ------------------------------------------------------------------ Unicode classes

struct ClassRow {
  char32_t cp;
  bool space;
  bool word;
  bool digit;
  int value;
  bool printable;
};

// Expected classes are the host's str.isspace(), re's \w and \d, unicodedata.decimal()
// and str.isprintable().
constexpr ClassRow kClassRows[] = {
    {0x61, false, true, false, -1, true},        // Ll LATIN SMALL LETTER A
    {0x5a, false, true, false, -1, true},        // Lu LATIN CAPITAL LETTER Z
    {0x5f, false, true, false, -1, true},        // Pc LOW LINE
    {0x30, false, true, true, 0, true},          // DIGIT ZERO
    {0x2d, false, false, false, -1, true},       // HYPHEN-MINUS
    {0x20, true, false, false, -1, true},        // SPACE
    {0x9, true, false, false, -1, false},        // tab
    {0xb, true, false, false, -1, false},        // vertical tab
    {0x1c, true, false, false, -1, false},       // file separator
    {0x1f, true, false, false, -1, false},       // unit separator
    {0x7f, false, false, false, -1, false},      // delete
    {0x85, true, false, false, -1, false},       // next line
    {0xa0, true, false, false, -1, false},       // NO-BREAK SPACE
    {0xad, false, false, false, -1, false},      // Cf SOFT HYPHEN
    {0xb2, false, true, false, -1, true},        // No SUPERSCRIPT TWO
    {0xe9, false, true, false, -1, true},        // LATIN SMALL LETTER E WITH ACUTE
    {0x661, false, true, true, 1, true},         // ARABIC-INDIC DIGIT ONE
    {0x966, false, true, true, 0, true},         // DEVANAGARI DIGIT ZERO
    {0xe59, false, true, true, 9, true},         // THAI DIGIT NINE
    {0x1d7d9, false, true, true, 1, true},       // MATHEMATICAL DOUBLE-STRUCK DIGIT ONE
    {0xff15, false, true, true, 5, true},        // FULLWIDTH DIGIT FIVE
    {0x104a0, false, true, true, 0, true},       // OSMANYA DIGIT ZERO
    {0x2167, false, true, false, -1, true},      // Nl ROMAN NUMERAL EIGHT
    {0x300, false, false, false, -1, true},      // Mn COMBINING GRAVE ACCENT
    {0x200b, false, false, false, -1, false},    // Cf ZERO WIDTH SPACE
    {0x2028, true, false, false, -1, false},     // Zl LINE SEPARATOR
    {0x3000, true, false, false, -1, false},     // Zs IDEOGRAPHIC SPACE
    {0x1680, true, false, false, -1, false},     // Zs OGHAM SPACE MARK
    {0x4e00, false, true, false, -1, true},      // Lo CJK UNIFIED IDEOGRAPH-4E00
    {0x1c5, false, true, false, -1, true},       // Lt titlecase letter
    {0x2b0, false, true, false, -1, true},       // Lm MODIFIER LETTER SMALL H
    {0xe000, false, false, false, -1, false},    // Co private use
    {0x378, false, false, false, -1, false},     // Cn unassigned
    {0x1f600, false, false, false, -1, true},    // So GRINNING FACE
    {0x10ffff, false, false, false, -1, false},  // Cn noncharacter
};

TEST(UnicodeClasses, MatchTheHostsClasses) {
  for (const ClassRow& row : kClassRows) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<std::uint32_t>(row.cp));
    EXPECT_EQ(is_space(row.cp), row.space);
    EXPECT_EQ(is_word(row.cp), row.word);
    EXPECT_EQ(is_digit(row.cp), row.digit);
    EXPECT_EQ(digit_value(row.cp), row.value);
    EXPECT_EQ(is_printable(row.cp), row.printable);
  }
}

TEST(UnicodeClasses, RunsCountBytes) {
  const std::string_view text = "ab_\u00e9\u0661 \u00a0\u3000x12\u0662-";
  EXPECT_EQ(word_run(text, 0), 7u);    // a b _ é(2) ١(2)
  EXPECT_EQ(space_run(text, 7), 6u);   // space, nbsp(2), ideographic space(3)
  EXPECT_EQ(digit_run(text, 14), 4u);  // 1 2 ٢(2)
  EXPECT_EQ(word_run(text, text.size()), 0u);
  EXPECT_EQ(digit_run("x1", 0), 0u);
}

TEST(UnicodeClasses, WordBoundaries) {
  const std::string_view text = "ab \u00e9x+";
  const std::vector<bool> expected = {true, false, true, true, false, false, true, false};
  for (std::size_t pos = 0; pos <= text.size(); ++pos) {
    if (pos == 4) continue;  // inside é
    EXPECT_EQ(at_word_boundary(text, pos), expected[pos]) << pos;
  }
  EXPECT_FALSE(at_word_boundary("", 0));
  EXPECT_FALSE(at_word_boundary("+", 1));
}

TEST(UnicodeClasses, Identifiers) {
  const std::pair<std::string_view, bool> rows[] = {
      {"q", true},    {"_tmp1", true},    {"caf\u00e9", true}, {"a\u0661", true},
      {"", false},    {"1a", false},      {"\u00e9a", false},  {"a-b", false},
      {"a b", false}, {"a\u0300", false}, {"_", true},
  };
  for (const auto& [text, expected] : rows)
    EXPECT_EQ(is_identifier(text), expected) << text;
}

// ------------------------------------------------------------------ trimming

TEST(Trim, RemovesUnicodeWhitespaceAtBothEnds) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"", ""},
      {" \t\n", ""},
      {" \u00a0x y\u3000\n", "x y"},
      {"\034a\037", "a"},
      {"\u2028\u2029\u0085", ""},
      {"\u200bx\u200b", "\u200bx\u200b"},  // zero width space is not whitespace
      {"\u00e9", "\u00e9"},
      {"\u1680\u205f\u202fz", "z"},
      // ASCII and Unicode whitespace mixed at either end.
      {"\u00a0 x \u00a0\t", "x"},
      {"x\u00e9 ", "x\u00e9"},
  };
  for (const auto& [text, expected] : rows)
    EXPECT_EQ(trim(text), expected) << text;
  EXPECT_EQ(trim_left(" \u00a0a \u00a0"), "a \u00a0");
  EXPECT_EQ(trim_right(" \u00a0a \u00a0"), " \u00a0a");
}

// ------------------------------------------------------------------ UTF-8

TEST(Utf8, DecodesAndEncodesEveryLength) {
  for (char32_t cp :
       {U'\0', U'A', U'\u00e9', U'\u07ff', U'\u0800', U'\uffff', U'\U00010000', U'\U0010ffff'}) {
    std::string text = "<";
    append_utf8(text, cp);
    text += '>';
    const CodePoint at = decode_at(text, 1);
    EXPECT_EQ(at.value, cp);
    EXPECT_EQ(decode_before(text, text.size() - 1).value, cp);
    EXPECT_EQ(static_cast<std::size_t>(at.length) + 2, text.size());
    EXPECT_EQ(count_code_points(text), 3u);
    EXPECT_NO_THROW(validate_utf8(text));
  }
}

TEST(Utf8, DecodingMalformedTextStaysInBounds) {
  const std::string_view truncated = "a\xe2\x82"sv;
  EXPECT_EQ(decode_at(truncated, 1).value, U'\ufffd');
  EXPECT_EQ(decode_at(truncated, 1).length, 1);
  EXPECT_EQ(decode_before("\x82"sv, 1).length, 1);
}

TEST(Utf8, ValidationNamesReasonAndOffset) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"\xff", "invalid start byte at byte 0"},
      {"ab\x80", "unexpected continuation byte at byte 2"},
      {"\xc0\xaf", "overlong encoding at byte 0"},
      {"x\xe0\x80\xaf", "overlong encoding at byte 1"},
      {"\xf0\x80\x80\xaf", "overlong encoding at byte 0"},
      {"\xed\xa0\x80", "surrogate code point at byte 0"},
      {"\xf4\x90\x80\x80", "code point above U+10FFFF at byte 0"},
      {"\xf5\x80\x80\x80", "code point above U+10FFFF at byte 0"},
      {"\xf8\x88\x80\x80\x80", "invalid start byte at byte 0"},
      {"abc\xe2\x82", "truncated sequence at byte 3"},
      {"\xe2\x82x", "truncated sequence at byte 0"},
      {"0123456789abcdef0123456789abcdef0123456789\xc3", "truncated sequence at byte 42"},
  };
  for (const auto& [text, reason] : rows) {
    EXPECT_THROW_MSG(validate_utf8(text), ValueError,
                     "Input is not valid UTF-8: " + std::string(reason));
  }
}

TEST(Utf8, AcceptsLongMixedText) {
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "plain ascii run of text \u00e9\u20ac\U0001f600 ";
  EXPECT_NO_THROW(validate_utf8(text));
  EXPECT_NO_THROW(validate_utf8(""));
  EXPECT_NO_THROW(validate_utf8("\0"sv));
}

// Lines end at '\n' only; columns count code points, a byte that continues no sequence
// counting as one; offsets past the end stop at it.
TEST(Locate, LineAndColumnOfAByteOffset) {
  const std::tuple<std::string_view, std::size_t, std::size_t, std::size_t> rows[] = {
      {"", 0, 1, 1},          {"ab\r\ncd", 3, 1, 4},        {"ab\r\ncd", 4, 2, 1},
      {"\u00e9\tx", 3, 1, 3}, {"\n\n\U0001f600y", 6, 3, 2}, {"\xffz", 2, 1, 3},
      {"ab", 9, 1, 3},
  };
  for (const auto& [text, offset, line, column] : rows) {
    const Location where = locate(text, offset);
    EXPECT_EQ(where, (Location{line, column, std::min(offset, text.size())})) << text << offset;
  }
}

}  // namespace
