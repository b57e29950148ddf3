// The journal's texts kept apart from their language: a description, a result or a detail line
// is the key of its wording and the values put into it. entry.txt keeps each such text as its
// English line, for people reading the file and for older readers, and as a line of the key and
// the values ("@detail 0 row|Uu1|196 V (85 %)|200 V (87 %)", journal.h), from which a reader
// renders it in its own language: English for nx480ctl and the file, the windows' language
// (translation.h) for the windows and the commissioning record. A line of an older entry, or one
// whose key this version does not know, has only its English and is shown as it stands. Plain
// C++.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "link_error.h"

namespace nx480 {

struct JournalText {
  std::string key;                // the wording (JournalWordingKnown); empty: `plain` alone
  std::vector<std::string> args;  // the values, in the wording's order
  std::string plain;              // a line of an older entry, as it was read

  bool operator==(const JournalText&) const = default;
};

// A text of a known wording; its values as the wording's slots take them.
JournalText Keyed(std::string key, std::vector<std::string> args = {});
// A line of an older entry, kept as it stands.
JournalText Plain(std::string line);

// Whether this version knows the wording `key`, for `args.size()` values.
bool JournalWordingKnown(std::string_view key, size_t args);
// The wordings this version knows: each key with the number of values it takes.
std::vector<std::pair<std::string_view, size_t>> JournalWordings();

enum class TextLanguage {
  English,  // entry.txt's lines and nx480ctl: values as kept (decimal point)
  Reader,   // the windows' language (translate()); settings values as the "Parametry" page
            // writes them (decimal comma, the mode's item), "slovo 21"
};
// The text in `language`; a plain one, or one of a wording this version does not know, as it
// stands (`plain`, else its key and values).
std::string RenderJournalText(const JournalText& text, TextLanguage language);
// Texts in a row, each rendered: "a; b; c".
std::string RenderJournalTexts(const std::vector<JournalText>& texts, TextLanguage language);
// Each text rendered, one line each.
std::vector<std::string> RenderJournalLines(const std::vector<JournalText>& texts,
                                            TextLanguage language);

// The line entry.txt keeps of a keyed text: "key|value|value", a "|" or "\" in a value after a
// "\". Decoded back into key and values; false for a line that is no such text.
std::string EncodeJournalText(const JournalText& text);
bool DecodeJournalText(std::string_view line, JournalText& text);

// ---- The values' words ----

// A link error as the journal keeps it: "no-reply", "bad-crc", ... ("none").
std::string_view LinkErrorWord(LinkError error);
// A settings row's name as the journal keeps it: the parameter's name, "word:21" for a carried
// word; rendered "slovo 21" / "word 21", and the phase choice "Faze" as "Fáze" / "Phases".
std::string CarriedWordName(int word);
// The names of rows, comma-separated, as one value of a text.
std::string JournalNameList(const std::vector<std::string>& names);

// A value as RenderJournalText puts it into a text in a slot of kind `slot` (journal_text.cpp:
// 'r' a row's name, 'v' a settings value, 'm' a relay mode, ...).
std::string JournalValue(char slot, const std::string& value, TextLanguage language);
// A row's name and a settings value as RenderJournalText puts them into a text (slots r and v).
std::string JournalRowName(std::string_view name, TextLanguage language);
std::string JournalSettingsValue(const std::string& value, TextLanguage language);

// Who or what stopped a change, as the journal keeps it (a firmware upload's end).
enum class StopCause {
  StopButton,       // the upload page's Stop
  ConnectButton,    // the main window's connect button, disconnecting
  WindowClosed,     // the settings window closed
  TabChanged,       // another page of the settings window chosen
  ProgramClosed,    // the program ending
  Interrupt,        // nx480ctl: Ctrl-C, SIGTERM or SIGHUP
  ConnectionEnded,  // a pause that nobody asked for by a stop (the relay gone)
};
std::string_view StopCauseWord(StopCause cause);

}  // namespace nx480
