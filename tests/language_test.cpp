// The interface language: from the locale, from --lang.
#include "language.h"

#include <gtest/gtest.h>

#include "atomic_file.h"
#include "translation.h"

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

TEST(Language, ArgumentsByNumber) {
  const struct {
    const char* text;
    std::vector<std::string_view> args;
    const char* result;
  } cases[] = {{"%1: %2", {"Uu1", "196 V"}, "Uu1: 196 V"},
               {"%2 (%1)", {"a", "b"}, "b (a)"},
               {"85 %", {}, "85 %"},
               {"%3 %1", {"x"}, "%3 x"},
               {"%1%1", {"ab"}, "abab"},
               {"100 %1", {"%2"}, "100 %2"}};
  for (const auto& c : cases) {
    std::string text;
    switch (c.args.size()) {
      case 0:
        text = nx480::Arg(c.text, {});
        break;
      case 1:
        text = nx480::Arg(c.text, {c.args[0]});
        break;
      default:
        text = nx480::Arg(c.text, {c.args[0], c.args[1]});
    }
    EXPECT_EQ(text, c.result) << c.text;
  }
}

// Texts made below the windows follow the translation the program installs, and only then.
TEST(Language, TextsBelowTheWindowsFollowTheTranslation) {
  EXPECT_EQ(nx480::translate("JournalView", "Čeká"), "Čeká");
  nx480::SetTranslation(
      [](const char* context, const char* source) { return std::string(context) + "|" + source; });
  EXPECT_EQ(nx480::translate("JournalView", "Čeká"), "JournalView|Čeká");
  EXPECT_EQ(nx480::FileProblemText(nx480::FileProblem::NoSpace),
            "FileProblem|Na disku není dost místa.");
  nx480::SetTranslation(nullptr);
  EXPECT_EQ(nx480::FileProblemText(nx480::FileProblem::NoSpace), "Na disku není dost místa.");
}
