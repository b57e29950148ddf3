#include "journal_text.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

#include "settings_compare.h"
#include "translation.h"

namespace nx480 {

namespace {

constexpr const char* kContext = "JournalText";

// A wording: its key, its English line (entry.txt, nx480ctl) and its Czech source (the windows,
// through the translation, whose English is the English line), the slots' kinds, one letter per
// value:
//   t  as it stands (a number, a path, an identification, an entry's name, a calibration name)
//   r  a settings or calibration row's name: "word:21" -> "slovo 21" / "word 21", "Faze"
//   l  row names, comma-separated, each as r
//   v  a settings value (ParameterText): the page's decimal comma and the mode's item for a reader
//   c  a calibration value: "none" for an empty serial number
//   e  a link error's word (LinkErrorWord)
//   s  a stop cause's word (StopCauseWord)
//   m  a relay mode as a state ("auto", "forced on", "forced off"): the page's items
//   M  the same as a change: "back to auto", "forced on"
struct Wording {
  std::string_view key;
  const char* english;
  const char* czech;
  std::string_view slots;
};

// clang-format off
constexpr Wording kWordings[] = {
    // ---- What was asked, and where from ----
    {"settings-window", "settings written from the Parameters page",
     QT_TRANSLATE_NOOP("JournalText", "zápis parametrů ze stránky Parametry"), ""},
    {"settings-ctl", "settings written by %1",
     QT_TRANSLATE_NOOP("JournalText", "zápis parametrů příkazem %1"), "t"},
    {"settings-restore", "settings restored from journal entry %1",
     QT_TRANSLATE_NOOP("JournalText", "obnova parametrů ze záznamu %1"), "t"},
    {"settings-after-upload", "settings written back after a firmware upload without a backup",
     QT_TRANSLATE_NOOP("JournalText", "zápis parametrů zpět po uploadu FW bez zálohy"), ""},
    {"calibration-window", "calibration written from the Calibration page",
     QT_TRANSLATE_NOOP("JournalText", "zápis kalibrace ze stránky Kalibrace"), ""},
    {"calibration-ctl", "calibration written by %1",
     QT_TRANSLATE_NOOP("JournalText", "zápis kalibrace příkazem %1"), "t"},
    {"calibration-restore", "calibration restored from journal entry %1",
     QT_TRANSLATE_NOOP("JournalText", "obnova kalibrace ze záznamu %1"), "t"},
    {"clearing-window", "event history cleared from the Calibration page",
     QT_TRANSLATE_NOOP("JournalText", "smazání historie ze stránky Kalibrace"), ""},
    {"clearing-ctl", "event history cleared by %1",
     QT_TRANSLATE_NOOP("JournalText", "smazání historie příkazem %1"), "t"},
    {"clock-window", "clock set from the Date, time page",
     QT_TRANSLATE_NOOP("JournalText", "nastavení času ze stránky Datum, čas"), ""},
    {"clock-ctl", "clock set by %1",
     QT_TRANSLATE_NOOP("JournalText", "nastavení času příkazem %1"), "t"},
    {"relay-window", "relay output %1 from the Date, time page",
     QT_TRANSLATE_NOOP("JournalText", "výstup relé %1 ze stránky Datum, čas"), "M"},
    {"relay-ctl", "relay output %1 by %2",
     QT_TRANSLATE_NOOP("JournalText", "výstup relé %1 příkazem %2"), "Mt"},
    {"relay-disconnect", "relay output back to auto as the connection ended",
     QT_TRANSLATE_NOOP("JournalText", "výstup relé zpět na Auto při odpojení"), ""},
    {"upload-window", "firmware uploaded from the Upload FW page",
     QT_TRANSLATE_NOOP("JournalText", "upload FW ze stránky Upload FW"), ""},
    {"upload-ctl", "firmware uploaded by %1",
     QT_TRANSLATE_NOOP("JournalText", "upload FW příkazem %1"), "t"},

    // ---- What came of it ----
    {"read-back-equal", "done, read back equal",
     QT_TRANSLATE_NOOP("JournalText", "provedeno, zpětně vyčteno shodně"), ""},
    {"held-otherwise", "refused: the relay holds %1 otherwise",
     QT_TRANSLATE_NOOP("JournalText", "odmítnuto: zařízení drží jinak %1"), "l"},
    {"acknowledged", "done, acknowledged by the relay",
     QT_TRANSLATE_NOOP("JournalText", "provedeno, zařízení potvrdilo"), ""},
    {"cleared", "done: the relay emptied its event history",
     QT_TRANSLATE_NOOP("JournalText", "provedeno: zařízení smazalo historii událostí"), ""},
    {"refused-code", "refused by the relay: wrong code, nothing cleared",
     QT_TRANSLATE_NOOP("JournalText", "zařízení odmítlo chybné heslo, nic nesmazáno"), ""},
    {"refused-exception", "refused by the relay (exception reply), nothing changed",
     QT_TRANSLATE_NOOP("JournalText", "zařízení odmítlo (chybová odpověď), nic se nezměnilo"), ""},
    {"not-sent", "not sent (%1), the relay unchanged",
     QT_TRANSLATE_NOOP("JournalText", "neodesláno (%1), zařízení beze změny"), "e"},
    {"unacknowledged", "sent, no valid acknowledgement (%1): the relay may have taken it",
     QT_TRANSLATE_NOOP("JournalText",
                       "odesláno bez platného potvrzení (%1): zařízení je mohlo přijmout"),
     "e"},
    {"unacknowledged-part",
     "sent, no valid acknowledgement (%1): the relay may hold all or part of it",
     QT_TRANSLATE_NOOP("JournalText",
                       "odesláno bez platného potvrzení (%1): zařízení může držet vše nebo část"),
     "e"},
    {"read-back-failed", "acknowledged, the read-back failed (%1): what the relay holds is not known",
     QT_TRANSLATE_NOOP("JournalText",
                       "potvrzeno, zpětné čtení selhalo (%1): co zařízení drží, není známo"),
     "e"},
    {"not-sent-stopped", "not sent: stopped before it went out, the relay unchanged",
     QT_TRANSLATE_NOOP("JournalText", "neodesláno: zastaveno před odesláním, zařízení beze změny"),
     ""},
    {"overtaken", "not sent: a later choice took its place",
     QT_TRANSLATE_NOOP("JournalText", "neodesláno: nahradila je pozdější volba"), ""},
    {"not-sent-connection", "not sent: the connection ended first",
     QT_TRANSLATE_NOOP("JournalText", "neodesláno: spojení skončilo dřív"), ""},
    {"upload-stopped-before-start", "stopped %1 before Start, nothing sent",
     QT_TRANSLATE_NOOP("JournalText", "zastaveno %1 před startem, nic neodesláno"), "s"},
    {"upload-start-failed",
     "Start not acknowledged (%1), nothing more sent and no Cancel: the relay may wait in upload "
     "mode",
     QT_TRANSLATE_NOOP("JournalText",
                       "start nepotvrzen (%1), nic dalšího ani Cancel neodesláno: zařízení může "
                       "čekat v režimu uploadu"),
     "e"},
    {"upload-stopped", "stopped %1 after %2 of %3 blocks",
     QT_TRANSLATE_NOOP("JournalText", "zastaveno %1, odesláno bloků: %2/%3"), "stt"},
    {"upload-block-failed", "block %1 of %2 not acknowledged (%3)",
     QT_TRANSLATE_NOOP("JournalText", "blok %1/%2 nepotvrzen (%3)"), "tte"},
    {"upload-not-ready", "all %1 blocks sent, the relay did not report ready (%2)",
     QT_TRANSLATE_NOOP("JournalText", "odesláno bloků: %1, zařízení nehlásilo připravenost (%2)"),
     "te"},
    {"upload-stopped-before-run", "stopped %1 after all %2 blocks, before Run",
     QT_TRANSLATE_NOOP("JournalText", "zastaveno %1 po všech blocích (%2), před spuštěním"), "st"},
    {"upload-run-not-sent",
     "all %1 blocks sent, Run not sent (%2): the relay waits in upload mode with its old firmware",
     QT_TRANSLATE_NOOP("JournalText",
                       "odesláno bloků: %1, Run neodeslán (%2): zařízení čeká v režimu uploadu se "
                       "starým firmwarem"),
     "te"},
    {"upload-restarted", "done, %1 blocks and Run sent, the relay restarted as %2",
     QT_TRANSLATE_NOOP("JournalText",
                       "provedeno, odesláno bloků: %1 a Run, zařízení se restartovalo jako %2"),
     "tt"},
    {"upload-not-identified",
     "%1 blocks and Run sent, the relay did not identify itself after its restart (%2)",
     QT_TRANSLATE_NOOP("JournalText",
                       "odesláno bloků: %1 a Run, zařízení se po restartu neohlásilo (%2)"),
     "te"},
    {"upload-waiting-stopped", "%1 blocks and Run sent, the waiting for its restart stopped %2",
     QT_TRANSLATE_NOOP("JournalText",
                       "odesláno bloků: %1 a Run, čekání na restart zastaveno %2"),
     "ts"},
    {"upload-tool-fault", "ended by a fault of the tool",
     QT_TRANSLATE_NOOP("JournalText", "ukončeno chybou programu"), ""},
    {"cancel-acknowledged", "Cancel sent and acknowledged",
     QT_TRANSLATE_NOOP("JournalText", "Cancel odeslán a potvrzen"), ""},
    {"cancel-not-acknowledged", "Cancel sent, not acknowledged (%1)",
     QT_TRANSLATE_NOOP("JournalText", "Cancel odeslán, nepotvrzen (%1)"), "e"},
    {"cancel-not-awaited", "Cancel sent, its answer not awaited",
     QT_TRANSLATE_NOOP("JournalText", "Cancel odeslán, na odpověď se nečekalo"), ""},
    {"cancel-not-sent", "Cancel could not be sent (%1)",
     QT_TRANSLATE_NOOP("JournalText", "Cancel nešel odeslat (%1)"), "e"},

    // ---- Detail lines ----
    {"row", "row: %1 %2 -> %3", QT_TRANSLATE_NOOP("JournalText", "%1: %2 -> %3"), "rvv"},
    {"held", "held: %1 %2", QT_TRANSLATE_NOOP("JournalText", "zařízení drží: %1 %2"), "rv"},
    {"calibration-row", "row: %1 %2 -> %3", QT_TRANSLATE_NOOP("JournalText", "%1: %2 -> %3"),
     "rcc"},
    {"calibration-held", "held: %1 %2",
     QT_TRANSLATE_NOOP("JournalText", "zařízení drží: %1 %2"), "rc"},
    {"after-restart", "after restart: %1 %2 -> %3",
     QT_TRANSLATE_NOOP("JournalText", "po restartu: %1 %2 -> %3"), "rvv"},
    {"after-restart-kept", "after restart: settings kept",
     QT_TRANSLATE_NOOP("JournalText", "po restartu: parametry beze změny"), ""},
    {"after-restart-not-read", "after restart: settings not read",
     QT_TRANSLATE_NOOP("JournalText", "po restartu: parametry nevyčteny"), ""},
    {"image", "image: %1, %2 %3, %4 bytes, %5 blocks",
     QT_TRANSLATE_NOOP("JournalText", "soubor: %1, %2 %3, %4 B, bloků: %5"), "ttttt"},
    {"records", "records: %1", QT_TRANSLATE_NOOP("JournalText", "záznamů: %1"), "t"},
    {"relay-time", "relay time: %1", QT_TRANSLATE_NOOP("JournalText", "čas zařízení: %1"), "t"},
    {"pc-time", "pc time: %1", QT_TRANSLATE_NOOP("JournalText", "čas PC: %1"), "t"},
    {"clock-offset", "clock offset: %1",
     QT_TRANSLATE_NOOP("JournalText", "odchylka hodin: %1"), "t"},
    {"remaining-offset", "remaining offset: %1",
     QT_TRANSLATE_NOOP("JournalText", "zbývající odchylka: %1"), "t"},
    {"remaining-offset-unknown", "remaining offset: unknown",
     QT_TRANSLATE_NOOP("JournalText", "zbývající odchylka: neznámá"), ""},
    {"mode", "mode: %1", QT_TRANSLATE_NOOP("JournalText", "režim: %1"), "m"},
    {"first-send-acknowledged", "first send: acknowledged",
     QT_TRANSLATE_NOOP("JournalText", "první odeslání: potvrzeno"), ""},
    {"first-send-unacknowledged", "first send: not acknowledged",
     QT_TRANSLATE_NOOP("JournalText", "první odeslání: nepotvrzeno"), ""},
};
// clang-format on

// A word kept in a value, its English and its Czech source.
struct Word {
  std::string_view word;
  const char* english;
  const char* czech;
};

constexpr Word kErrorWords[] = {
    {"none", "no error", QT_TRANSLATE_NOOP("JournalText", "bez chyby")},
    {"no-reply", "no reply", QT_TRANSLATE_NOOP("JournalText", "žádná odpověď")},
    {"wrong-length", "reply of wrong length",
     QT_TRANSLATE_NOOP("JournalText", "odpověď chybné délky")},
    {"bad-crc", "reply with bad CRC", QT_TRANSLATE_NOOP("JournalText", "odpověď s chybným CRC")},
    {"wrong-slave", "reply from another slave",
     QT_TRANSLATE_NOOP("JournalText", "odpověď jiné adresy")},
    {"wrong-function", "reply of another function",
     QT_TRANSLATE_NOOP("JournalText", "odpověď jiné funkce")},
    {"wrong-byte-count", "reply with a wrong byte count",
     QT_TRANSLATE_NOOP("JournalText", "odpověď s chybným počtem bajtů")},
    {"exception", "exception reply", QT_TRANSLATE_NOOP("JournalText", "chybová odpověď")},
    {"bad-echo", "acknowledgement differs from request",
     QT_TRANSLATE_NOOP("JournalText", "potvrzení se liší od požadavku")},
    {"port-closed", "port closed", QT_TRANSLATE_NOOP("JournalText", "port zavřen")},
    {"port-busy", "port in use", QT_TRANSLATE_NOOP("JournalText", "port obsazen")},
    {"device-gone", "device gone", QT_TRANSLATE_NOOP("JournalText", "převodník odpojen")},
    {"stopped", "wait cut short", QT_TRANSLATE_NOOP("JournalText", "čekání přerušeno")},
};

constexpr Word kStopWords[] = {
    {"stop-button", "by the Stop button", QT_TRANSLATE_NOOP("JournalText", "tlačítkem Stop")},
    {"connect-button", "by disconnecting", QT_TRANSLATE_NOOP("JournalText", "odpojením")},
    {"window-closed", "as the settings window closed",
     QT_TRANSLATE_NOOP("JournalText", "zavřením okna Nastavení")},
    {"tab-changed", "by a change of page", QT_TRANSLATE_NOOP("JournalText", "přepnutím stránky")},
    {"program-closed", "as the program closed",
     QT_TRANSLATE_NOOP("JournalText", "ukončením programu")},
    {"interrupt", "by Ctrl-C or a signal",
     QT_TRANSLATE_NOOP("JournalText", "klávesami Ctrl-C nebo signálem")},
    {"connection-ended", "as the connection ended",
     QT_TRANSLATE_NOOP("JournalText", "koncem spojení")},
};

constexpr Word kModeStates[] = {
    {"auto", "auto", QT_TRANSLATE_NOOP("JournalText", "Auto")},
    {"forced on", "forced on", QT_TRANSLATE_NOOP("JournalText", "On")},
    {"forced off", "forced off", QT_TRANSLATE_NOOP("JournalText", "Off")},
};
constexpr Word kModeChanges[] = {
    {"auto", "back to auto", QT_TRANSLATE_NOOP("JournalText", "zpět na Auto")},
    {"forced on", "forced on", QT_TRANSLATE_NOOP("JournalText", "na On")},
    {"forced off", "forced off", QT_TRANSLATE_NOOP("JournalText", "na Off")},
};

const Wording* WordingOf(std::string_view key) {
  const auto found = std::find_if(std::begin(kWordings), std::end(kWordings),
                                  [key](const Wording& w) { return w.key == key; });
  return found == std::end(kWordings) ? nullptr : found;
}

std::string WordText(std::span<const Word> words, std::string_view word, TextLanguage language) {
  for (const Word& w : words) {
    if (w.word == word)
      return language == TextLanguage::English ? w.english : translate(kContext, w.czech);
  }
  return std::string(word);
}

std::string RowName(std::string_view name, TextLanguage language) {
  constexpr std::string_view kWord = "word:";
  const bool english = language == TextLanguage::English;
  if (name.starts_with(kWord)) {
    const std::string number(name.substr(kWord.size()));
    return english
               ? "word " + number
               : Arg(translate(kContext, QT_TRANSLATE_NOOP("JournalText", "slovo %1")), {number});
  }
  if (name == "Faze")
    return english ? "Phases" : translate(kContext, QT_TRANSLATE_NOOP("JournalText", "Fáze"));
  return std::string(name);
}

// A settings value as the "Parametry" page writes it: a decimal comma, the mode as its item.
std::string PageValue(const std::string& value) {
  std::string text = PageNumberText(value);
  constexpr std::pair<std::string_view, const char*> kModes[] = {{"three-phase", "třífázový"},
                                                                 {"single-phase", "jednofáz."}};
  for (const auto& [english, czech] : kModes) {
    if (text.starts_with(english))
      text.replace(0, english.size(), translate("SettingsCompare", czech));
  }
  return text;
}

std::string SlotText(char slot, const std::string& value, TextLanguage language) {
  const bool english = language == TextLanguage::English;
  switch (slot) {
    case 'r':
      return RowName(value, language);
    case 'l': {
      std::string list;
      for (size_t start = 0; start <= value.size();) {
        size_t end = value.find(", ", start);
        if (end == std::string::npos) end = value.size();
        if (!list.empty()) list += ", ";
        list += RowName(std::string_view(value).substr(start, end - start), language);
        start = end + 2;
      }
      return list;
    }
    case 'v':
      return english ? value : PageValue(value);
    case 'c':
      if (value != "none" || english) return value;
      return translate(kContext, QT_TRANSLATE_NOOP("JournalText", "žádné"));
    case 'e':
      return WordText(kErrorWords, value, language);
    case 's':
      return WordText(kStopWords, value, language);
    case 'm':
      return WordText(kModeStates, value, language);
    case 'M':
      return WordText(kModeChanges, value, language);
    default:
      return value;
  }
}

// `text` with %1 ... %9 replaced by `values`.
std::string Fill(std::string_view text, const std::vector<std::string>& values) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t n = static_cast<size_t>(text[i + 1] - '1');
      if (n < values.size()) {
        out += values[n];
        ++i;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace

std::string JournalValue(char slot, const std::string& value, TextLanguage language) {
  return SlotText(slot, value, language);
}

std::string JournalRowName(std::string_view name, TextLanguage language) {
  return RowName(name, language);
}

std::string JournalSettingsValue(const std::string& value, TextLanguage language) {
  return language == TextLanguage::English ? value : PageValue(value);
}

JournalText Keyed(std::string key, std::vector<std::string> args) {
  return {std::move(key), std::move(args), {}};
}

JournalText Plain(std::string line) {
  return {{}, {}, std::move(line)};
}

bool JournalWordingKnown(std::string_view key, size_t args) {
  const Wording* wording = WordingOf(key);
  return wording && wording->slots.size() == args;
}

std::vector<std::pair<std::string_view, size_t>> JournalWordings() {
  std::vector<std::pair<std::string_view, size_t>> wordings;
  for (const Wording& w : kWordings) wordings.emplace_back(w.key, w.slots.size());
  return wordings;
}

std::string RenderJournalText(const JournalText& text, TextLanguage language) {
  if (text.key.empty()) return text.plain;
  const Wording* wording = WordingOf(text.key);
  if (!wording || wording->slots.size() != text.args.size()) {
    if (!text.plain.empty()) return text.plain;
    return EncodeJournalText(text);
  }
  std::vector<std::string> values;
  for (size_t i = 0; i < text.args.size(); ++i)
    values.push_back(SlotText(wording->slots[i], text.args[i], language));
  const std::string pattern =
      language == TextLanguage::English ? wording->english : translate(kContext, wording->czech);
  return Fill(pattern, values);
}

std::string RenderJournalTexts(const std::vector<JournalText>& texts, TextLanguage language) {
  std::string out;
  for (const JournalText& text : texts) {
    if (!out.empty()) out += "; ";
    out += RenderJournalText(text, language);
  }
  return out;
}

std::vector<std::string> RenderJournalLines(const std::vector<JournalText>& texts,
                                            TextLanguage language) {
  std::vector<std::string> lines;
  for (const JournalText& text : texts) lines.push_back(RenderJournalText(text, language));
  return lines;
}

std::string EncodeJournalText(const JournalText& text) {
  std::string line = text.key;
  for (const std::string& arg : text.args) {
    line += '|';
    for (const char c : arg) {
      if (c == '|' || c == '\\') line += '\\';
      line += c;
    }
  }
  return line;
}

bool DecodeJournalText(std::string_view line, JournalText& text) {
  JournalText decoded;
  size_t i = 0;
  for (; i < line.size() && line[i] != '|'; ++i) {
    const char c = line[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    decoded.key += c;
  }
  if (decoded.key.empty()) return false;
  while (i < line.size()) {  // at a '|'
    std::string arg;
    for (++i; i < line.size() && line[i] != '|'; ++i) {
      if (line[i] == '\\') {
        if (++i == line.size()) return false;
      }
      arg += line[i];
    }
    decoded.args.push_back(std::move(arg));
  }
  text = std::move(decoded);
  return true;
}

std::string_view LinkErrorWord(LinkError error) {
  const size_t index = static_cast<size_t>(error);
  return index < std::size(kErrorWords) ? kErrorWords[index].word : "none";
}

std::string CarriedWordName(int word) {
  return "word:" + std::to_string(word);
}

std::string JournalNameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

std::string_view StopCauseWord(StopCause cause) {
  return kStopWords[static_cast<size_t>(cause)].word;
}

}  // namespace nx480
