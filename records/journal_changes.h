// What each kind of change keeps in the journal (journal.h): the backups of what it replaces,
// its detail lines and what came of it, from the settings, the calibration, the clock, a
// clearing, a firmware upload or the output relay. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calibration_words.h"
#include "firmware_features.h"
#include "journal.h"
#include "journal_text.h"
#include "link_error.h"
#include "outcome.h"
#include "settings_words.h"
#include "upload_end.h"

namespace nx480 {

// The backups, built as they are kept:
//  * "settings.nx4": the 48 bytes of the settings file, as the "Otevři" button loads them;
JournalBackup SettingsBackup(const SettingsWords& record);
//  * "calibration.txt": registers 0x18-0x1F, one line each: "0x18 0x03E8\n";
JournalBackup CalibrationBackup(const CalibrationWords& record);
//  * "history.csv": the history window's export, as the caller hands it over;
JournalBackup HistoryBackup(std::vector<uint8_t> exportBytes);
//  * "identification.txt": the identification text (UTF-8) and a newline;
JournalBackup IdentificationBackup(std::string_view identification);
//  * a firmware upload: the identification, the settings and, when given, the calibration.
std::vector<JournalBackup> FirmwareUploadBackups(
    std::string_view identification, const SettingsWords& settings,
    const std::optional<CalibrationWords>& calibration);

// A settings write's detail lines, in the page's order: "row: Uu1 196 V (85 %) -> 200 V (87 %)"
// for each row that `toWrite` changes in `held` (ParameterText), "row: word 21 0x0000 -> 0x1234"
// for a carried word.
std::vector<JournalText> SettingsChangeDetails(const SettingsWords& held,
                                               const SettingsWords& toWrite,
                                               const FirmwareFeatures& firmware);
// After a firmware upload, the settings the restarted relay holds against those kept before
// it: "after restart: Uu1 196 V (85 %) -> 230 V (100 %)" for each row that differs (as
// SettingsChangeDetails, each side in its own firmware's units), "after restart: settings kept"
// when none does, "after restart: settings not read" without `after`.
std::vector<JournalText> SettingsAfterRestartDetails(const SettingsWords& saved,
                                                     const FirmwareFeatures& savedFirmware,
                                                     const std::optional<SettingsWords>& after,
                                                     const FirmwareFeatures& afterFirmware);
// A firmware upload's image: "image: /home/jan/fw.bn6, NX480 1.14, 32750 bytes, 125 blocks"
// (the texts in UTF-8).
JournalText FirmwareImageDetail(std::string_view path, std::string_view application,
                                std::string_view version, size_t bytes, size_t blocks);
// A write read back otherwise: "held: Uu1 200 V (87 %)" for each row the relay holds
// otherwise than `written` says, "held: word 21 0x0000" for a carried word.
std::vector<JournalText> SettingsHeldDetails(const SettingsWords& written,
                                             const SettingsWords& held,
                                             const FirmwareFeatures& firmware);
// A calibration write's detail lines, in the page's order: "row: KalU1 1.000 -> 1.001" for each
// factor that `toWrite` changes in `held`, "row: s/n 001234 -> 004711" for the serial number (as
// its box shows it, "none" for an empty box), "row: word 4 0x00C8 -> 0x00C9" for a carried word.
std::vector<JournalText> CalibrationChangeDetails(const CalibrationWords& held,
                                                  const CalibrationWords& toWrite);
// A calibration write read back otherwise: "held: KalU2 1.000", "held: s/n 004711",
// "held: word 4 0x00C8" for each value the relay holds otherwise than `written` says.
std::vector<JournalText> CalibrationHeldDetails(const CalibrationWords& written,
                                                const CalibrationWords& held);
// A history clearing's detail line: "records: 12", the records its backup holds.
JournalText HistoryClearingDetail(size_t records);

// How a transaction's outcome is kept: Ok done; Differs (acknowledged, read back otherwise: the
// relay clamped or refused a value) and Refused refused; Unknown unknown; a communication error
// refused when the relay answered with an exception reply, not sent when a stop ended it
// (LinkError::Stopped: kChangeHeldBack, a change held back after its journal step), else failed
// (nothing went out whole).
JournalOutcome JournalOutcomeOf(Outcome outcome);
// What came of a change of `kind` (not a firmware upload) that ended with `outcome`, in words:
// "done, read back equal" (a write), "done, acknowledged by the relay", "refused: the relay holds
// Uu1, tUu1 otherwise" (the rows `heldRows` names), "sent, no valid acknowledgement (no reply):
// the relay may have taken it", "not sent (port closed), the relay unchanged", "not sent: stopped
// before it went out, the relay unchanged" (LinkError::Stopped), ...
JournalText OutcomeResult(ChangeKind kind, Outcome outcome,
                          const std::vector<std::string>& heldRows = {});
// Sets how a change ended: its outcome (JournalOutcomeOf) and result (OutcomeResult), and adds
// `details` (for Differs the "held" lines, whose rows the result names).
void SetOutcome(JournalEntry& entry, Outcome outcome, std::vector<JournalText> details = {});

// How a firmware upload is kept: as its outcome is (JournalOutcomeOf: done when the restarted
// relay identified itself, unknown when it did not, refused after an exception reply, not sent
// when stopped before Start), except that a failure from Start on is failed, the old firmware
// kept, even when a pause cut short the wait for an answer.
JournalOutcome UploadJournalOutcome(const UploadEnd& end);
// What came of an upload, in words: "stopped by the Stop button after 36 of 125 blocks", "Cancel
// sent and acknowledged"; "done, 125 blocks and Run sent, the relay restarted as NX480 1.16".
// `stopper` says who stopped it when the abort flag ended it (a pause alone: the connection
// ended); `restartedAs` is the restarted relay's identification (UTF-8).
std::vector<JournalText> UploadResults(const UploadEnd& end, StopCause stopper,
                                       const std::string& restartedAs = {});

// Reads the bytes of CalibrationBackup back: exactly eight lines "0xRR 0xWWWW" (hex digits of
// either case), the registers 0x18-0x1F in order, each line ending in "\n", nothing else. On
// failure the record is left alone and `error` says which line is wrong.
bool ParseCalibrationBackup(std::span<const uint8_t> bytes, CalibrationWords& record,
                            std::string& error);

// A clock setting's detail lines, from the relay's and the PC's clocks at the read (date-time
// values, relay_time.h): "relay time: 2026-12-09 23:15:02.120", "pc time: ...",
// "clock offset: -1.23 s" (the relay's clock minus the PC's).
std::vector<JournalText> ClockDetails(double relayTime, double pcTime);
// After an acknowledged clock setting, the offset that remains (the relay's clock read once more
// minus the PC's, in seconds): "remaining offset: +0.02 s", as ClockDetails rounds it;
// "remaining offset: unknown" when that read failed (nullopt).
JournalText RemainingOffsetDetail(std::optional<double> seconds);

// A relay mode as its request carries it (1 automatic, 2 forced on, 3 forced off): "auto",
// "forced on", "forced off"; empty for any other value.
std::string_view RelayModeWord(int command);
// A relay-mode change's detail lines: its mode ("mode: forced on"), kept before it is sent, and
// how its first send ended ("first send: acknowledged", "first send: not acknowledged").
JournalText RelayModeDetail(int command);
JournalText FirstSendDetail(Outcome firstSend);

}  // namespace nx480
