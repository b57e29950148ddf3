// The interface language: from the locale, from --lang.
#include "language.h"

#include <gtest/gtest.h>

using nx480::Language;

TEST(Language, OfLocale) {
  const struct {
    const char* locale;
    Language language;
  } cases[] = {{"cs_CZ", Language::Czech},   {"sk_SK", Language::Czech},
               {"C", Language::Czech},       {"en_US", Language::English},
               {"de_DE", Language::English}, {"pl_PL", Language::English}};
  for (const auto& c : cases)
    EXPECT_EQ(nx480::LanguageOfLocale(QLocale(c.locale)), c.language) << c.locale;
}

TEST(Language, Option) {
  const struct {
    std::vector<std::string> arguments;
    std::optional<Language> language;
    std::vector<std::string> left;
    bool error;
  } cases[] = {
      {{}, std::nullopt, {}, false},
      {{"/servis"}, std::nullopt, {"/servis"}, false},
      {{"--lang", "en", "/servis"}, Language::English, {"/servis"}, false},
      {{"/servis", "--lang=cs"}, Language::Czech, {"/servis"}, false},
      {{"--lang", "en", "--lang", "cs"}, Language::English, {}, false},
      {{"--lang", "de"}, std::nullopt, {}, true},
      {{"/servis", "--lang"}, std::nullopt, {"/servis"}, true},
      {{"--lang="}, std::nullopt, {}, true},
      {{"--language", "en"}, std::nullopt, {"--language", "en"}, false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    std::string error;
    EXPECT_EQ(nx480::TakeLanguageOption(arguments, error), c.language)
        << testing::PrintToString(c.arguments);
    EXPECT_EQ(arguments, c.left) << testing::PrintToString(c.arguments);
    EXPECT_EQ(!error.empty(), c.error) << testing::PrintToString(c.arguments) << error;
  }
}
