// The commissioning record: what a technician files after putting a relay into service, as a
// PDF (A4, fonts embedded). The content is gathered into a plain CommissioningRecord (the relay's
// parts by ReadRecord, link/record_transaction.h; the rest by the caller), rendered as HTML with
// QTextDocument into QPdfWriter in memory, and written through WriteFileAtomically: a failure
// leaves no file. Its texts are in the windows' language (translation.h), all in one table in
// commissioning_record.cpp.
//
// Qt Gui: QPdfWriter and QTextDocument need a QGuiApplication (nx480ctl makes one with the
// offscreen platform when there is no display). No widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "calibration_words.h"
#include "grid_profile.h"
#include "history_record.h"
#include "journal.h"
#include "relay_session.h"
#include "settings_words.h"

namespace nx480 {

struct CommissioningRecord {
  // Who, where, when, with what.
  std::string site;
  std::string technician;
  std::string madeAt;  // the record's local date and time, as it is printed
  std::string host;    // the PC's host name
  std::string toolVersion;
  // The relay: identification (in the relay's code page, as the session holds it), serial
  // number, firmware, temperature variant and port.
  RelaySession session;
  // Its clock against the PC's at the read (date-time values, link/relay_time.h).
  double relayTime = 0;
  double pcTime = 0;
  SettingsWords settings{};
  // When given, each settings row shows the profile's range and verdict (CheckSettings).
  std::optional<GridProfile> profile;
  std::optional<CalibrationWords> calibration;  // service mode only
  std::vector<HistoryRecord> events;            // newest first, at most kRecordEvents
  std::vector<JournalEntry> journal;            // this relay's entries of the last 24 hours
};

// The record's settings against its profile, summed up.
struct ProfileVerdict {
  bool profile = false;  // a profile was chosen
  size_t checked = 0;    // the profile's rows the firmware has
  // The codes of the rows outside the profile, and of those the firmware lacks (not checked),
  // in the profile's order.
  std::vector<std::string> outside;
  std::vector<std::string> notInFirmware;
};
ProfileVerdict VerdictOf(const CommissioningRecord& record);

// The verdict as the record prints it, in the windows' language: "Vyhovuje profilu X",
// "Nevyhovuje: 2 z 8 kontrolovaných hodnot (Uu1, tRel)", "bez profilu"; a profile the firmware
// has none of the rows of cannot be passed.
std::string VerdictText(const CommissioningRecord& record);

// The SHA-256 of the 48-byte settings image (SettingsFileBytes, the bytes of a settings file
// saved from the same relay): 64 lowercase hex digits, as `sha256sum` prints them.
std::string SettingsImageSha256(const SettingsWords& settings);

// The journal entries of relay `serialNumber` under `root` (ListJournal) whose moment
// (JournalEntryTime) lies within the 24 hours up to `nowSeconds` (seconds since 1970, UTC),
// newest first.
std::vector<JournalEntry> RecentJournal(const std::string& root, int32_t serialNumber,
                                        int64_t nowSeconds);

// What the record takes from this PC once the relay's parts have arrived: the relay's session,
// the local date and time now, the host name, the tool's version, and the relay's journal
// entries of the last 24 hours (none when the journal's folder is unknown).
void CompleteRecord(CommissioningRecord& record, const RelaySession& session,
                    const EnvironmentLookup& env = ProcessEnvironment);

// The record as the HTML the PDF is made of (UTF-8). The check's verdict stands under the title
// and again above the signatures; each settings row is named as the settings window names its
// stage, with its code; numbers take the decimal separator of the windows' language.
// Anchors "keep-from-N" and "keep-to-N" mark the first and the last line of what must stay on
// one page (a heading with what follows it, the settings table with its fingerprint, the
// verdict with the signatures).
std::string CommissioningHtml(const CommissioningRecord& record);

// The record as PDF bytes (A4, fonts embedded): each group the anchors mark begins a new page
// rather than run over a page's end, a table's title row is repeated on each page it runs
// over, and each page's footer names the relay (serial number), the site, the record's date
// and the page ("strana 2 z 4"). Needs a QGuiApplication.
std::vector<uint8_t> CommissioningPdf(const CommissioningRecord& record);

// Renders the record and writes it as `path` through WriteFileAtomically: an existing file is
// replaced whole, a failure (read-only folder, full disk) leaves no file; `error` says why.
bool WriteCommissioningPdf(const std::string& path, const CommissioningRecord& record,
                           FileError& error);

}  // namespace nx480
