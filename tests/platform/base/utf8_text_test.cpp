#include "platform/base/utf8_text.h"

#include <gtest/gtest.h>

#include "platform/base/executable_folder.h"

namespace {

constexpr TextConversion kEnds = {NulCharacter::kEndsText, BadCharacter::kEndsText};
constexpr TextConversion kKeepsNul = {NulCharacter::kKept, BadCharacter::kEndsText};
constexpr TextConversion kReplaces = {NulCharacter::kKept, BadCharacter::kReplaced};

}  // namespace

TEST(Utf8Text, EveryLengthOfCharacterBothWays) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a, é, 中, 😀
  const std::wstring wide = {L'a', 0xE9, 0x4E2D, 0x1F600};
  for (TextConversion how : {kEnds, kKeepsNul, kReplaces}) {
    EXPECT_EQ(ConvertUtf8ToWide(text, how), wide);
    EXPECT_EQ(ConvertWideToUtf8(wide, how), text);
  }
}

TEST(Utf8Text, TheNulAndTheBadCharacterAsEachCallerWantsThem) {
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(ConvertUtf8ToWide(with_nul, kEnds), L"a");
  EXPECT_EQ(ConvertUtf8ToWide(with_nul, kKeepsNul), std::wstring(L"a\0b", 3));
  EXPECT_EQ(ConvertWideToUtf8(std::wstring(L"a\0b", 3), kEnds), "a");
  EXPECT_EQ(ConvertWideToUtf8(std::wstring(L"a\0b", 3), kKeepsNul), with_nul);

  // An overlong form, a lone continuation byte, a surrogate and a cut-off character.
  for (const std::string bad : {"x\xC0\xAFy", "x\x80y", "x\xED\xA0\x80y", "x\xE4\xB8"}) {
    EXPECT_EQ(ConvertUtf8ToWide(bad, kEnds), L"x") << bad;
    std::wstring replaced = ConvertUtf8ToWide(bad, kReplaces);
    EXPECT_EQ(replaced.front(), L'x');
    EXPECT_EQ(replaced[1], static_cast<wchar_t>(0xFFFD)) << bad;
  }
  const std::wstring lone_surrogate = {L'x', static_cast<wchar_t>(0xD800), L'y'};
  EXPECT_EQ(ConvertWideToUtf8(lone_surrogate, kKeepsNul), "x");
  EXPECT_EQ(ConvertWideToUtf8(lone_surrogate, kReplaces), "x\xEF\xBF\xBDy");
}

TEST(ExecutableFolder, IsTheFolderOfThisTestEndingWithASlash) {
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
}
