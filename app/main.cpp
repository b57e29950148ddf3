// Entry point: the application object and the six windows, created once each in this order.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "form_history.h"
#include "form_journal.h"
#include "form_main.h"
#include "form_online.h"
#include "form_record.h"
#include "form_setup.h"
#include "language.h"
#include "signal_close.h"
#include "window_services.h"

namespace {

// Shows an exception that reaches the event loop and lets the program go on.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      ShowException(QString());
    }
    return false;
  }

 private:
  static void ShowException(const QString& message) {
    QMessageBox::critical(activeWindow(), kProgramTitle, message, QMessageBox::Ok);
  }
};

constexpr const char* kUsage =
    "Usage: nx480-pc [/servis] [--demo] [--lang cs|en]\n"
    "       nx480-pc --help | --version\n"
    "\n"
    "Service and configuration tool for the NX480 mains protection relay. F1 in the main\n"
    "window searches the serial ports for the relay and connects to it.\n"
    "\n"
    "  /servis, /SERVIS  service mode, as the first argument: the \"Kalibrace\" page\n"
    "                    (calibration factors, serial number, clearing the event history)\n"
    "                    and the live values in tenths of a volt\n"
    "  --demo            the demo relay inside the program instead of a serial port: F1\n"
    "                    finds it as a relay, its live values move and now and then a\n"
    "                    voltage sag trips U<; to learn the tool without a relay\n"
    "  --lang cs|en      the windows' language, whatever the locale says (Czech for Czech,\n"
    "                    Slovak and C locales, English for any other)\n"
    "  --help, -h        this text\n"
    "  --version         the program's version\n"
    "\n"
    "Environment:\n"
    "  NX480_PORTS       the serial devices the search tries, colon-separated (else the\n"
    "                    USB adapters and the built-in ports present); on Windows the\n"
    "                    COM ports, semicolon-separated (COM5;COM12)\n"
    "  QT_LOGGING_RULES  nx480.link.frames.debug=true logs every frame to standard error\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n"
    "Exit status 2 for an unknown language. nx480ctl(1) does the same from a shell.\n";

}  // namespace

int main(int argc, char* argv[]) {
  // The version and the usage, without a display: for scripts and package checks.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("nx480-pc " NX480_VERSION_TEXT "\n");
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
  }
  Application app(argc, argv);  // takes its own options (-platform, ...) out of argv
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  // The windows' language: --lang cs|en, else the locale's (Czech for cs, sk and C).
  std::string languageError;
  const std::optional<nx480::Language> asked = nx480::TakeLanguageOption(arguments, languageError);
  if (!languageError.empty()) {
    std::fprintf(stderr, "nx480-pc: %s\n", languageError.c_str());
    return 2;
  }
  // Without the translation the texts stay Czech; said only where English was asked for.
  if (!nx480::UseLanguage(asked.value_or(nx480::LanguageOfLocale(QLocale::system()))) && asked)
    std::fprintf(stderr, "nx480-pc: the English translation could not be loaded\n");
  // No application display name: X11 would append it to every window title.
  app.setApplicationName("nx480-pc");
  app.setQuitOnLastWindowClosed(false);

  TFormMain formMain(arguments);
  TFormOnLine formOnLine;
  TFormSetup formSetup(formMain.Session().serviceMode);
  TFormHistory formHistory;
  JournalWindow formJournal;
  RecordForm formRecord;
  formMain.AttachWindows(&formOnLine, &formSetup, &formHistory, &formJournal, &formRecord);
  CloseOnSignals signalClose(formMain);
  formMain.show();

  // The loop ends when the main window closes; closing it has paused the worker and closed the
  // port already, so the windows may go before the worker thread is ended.
  app.exec();
  formMain.FormClose();
  return 0;
}
