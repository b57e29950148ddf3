#include "command_line.h"

#include <map>

#include "command_table.h"

namespace nx480::ctl {

namespace {

const OptionForm* FindOption(const CommandRow& command, const std::string& name) {
  for (const OptionForm& o : command.options)
    if (name == o.name) return &o;
  return nullptr;
}

}  // namespace

const std::vector<std::string>& CommandNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const CommandRow* row : CommandTable()) list.emplace_back(row->name);
    return list;
  }();
  return names;
}

ParsedLine ParseCommandLine(const std::vector<std::string>& arguments) {
  ParsedLine parsed;
  Invocation& inv = parsed.invocation;
  std::string command;
  const CommandRow* row = nullptr;
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  bool help = false;
  bool version = false;
  bool endOfOptions = false;

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
      continue;
    }
    if (endOfOptions || arg.size() < 2 || arg[0] != '-') {
      if (command.empty()) {
        command = arg;
        row = FindCommand(arg);
        if (!row) {
          parsed.error = "unknown command '" + arg + "'";
          return parsed;
        }
      } else {
        words.push_back(arg);
      }
      continue;
    }
    // "--name=value" or "--name" [value].
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool inlineValue = equals != std::string::npos;
    auto value = [&](std::string& into) {
      if (inlineValue) {
        into = arg.substr(equals + 1);
        return true;
      }
      if (i + 1 >= arguments.size()) {
        parsed.error = name + " needs a value";
        return false;
      }
      into = arguments[++i];
      return true;
    };
    auto flag = [&](bool& into) {
      if (inlineValue) {
        parsed.error = name + " takes no value";
        return false;
      }
      into = true;
      return true;
    };

    bool good = true;
    if (name == "--help" || name == "-h") {
      good = flag(help);
    } else if (name == "--version") {
      good = flag(version);
    } else if (name == "--trace") {
      good = flag(inv.trace);
    } else if (name == "--service") {
      good = flag(inv.service);
    } else if (name == "--demo") {
      good = flag(inv.demo);
    } else if (name == "--port") {
      good = value(inv.port);
      if (good && inv.port.empty()) {
        parsed.error = "--port needs a device, e.g. /dev/ttyUSB0";
        good = false;
      }
    } else if (const OptionForm* option = row ? FindOption(*row, name) : nullptr) {
      std::string text;
      bool set = false;
      good = option->takesValue ? value(text) : flag(set);
      options[name] = text;
    } else {
      parsed.error = row ? "unknown option " + name + " for " + command : "unknown option " + name;
      return parsed;
    }
    if (!good) return parsed;
  }

  if (help) {
    inv.command = Command::Help;
    inv.helpTopic = command;
    return parsed;
  }
  if (command.empty()) {
    if (version) {
      inv.command = Command::Version;
    } else {
      parsed.error = "no command given";
    }
    return parsed;
  }
  if (inv.demo && !inv.port.empty()) {
    parsed.error = "--demo and --port exclude each other";
    return parsed;
  }
  inv.row = row;
  parsed.error = row->parse(CommandWords{words, options}, inv);
  return parsed;
}

std::string HelpText(const std::string& topic) {
  if (const CommandRow* row = FindCommand(topic)) return row->help;
  std::string text =
      "Usage: nx480ctl [--port DEVICE | --demo] [--trace] [--service] COMMAND [ARGUMENTS]\n"
      "       nx480ctl COMMAND --help\n"
      "\n"
      "Command-line companion of nx480-pc for scripted service work on an NX480 relay.\n"
      "\n"
      "Commands:\n";
  // Each form in a column of 30, at least two blanks before what it does.
  for (const CommandRow* row : CommandTable())
    for (const OverviewLine& line : row->overview) {
      const std::string form = line.form;
      text += "  " + form + std::string(form.size() < 28 ? 30 - form.size() : 2, ' ') + line.what +
              "\n";
    }
  return text +
         "\n"
         "Options:\n"
         "  --port DEVICE  use this serial device only; without it the ports are searched\n"
         "                 as the window searches them (NX480_PORTS, else the USB adapters\n"
         "                 and the built-in ports present). NX480_PORTS is colon-separated;\n"
         "                 a colon separates only before a path that begins with /, so\n"
         "                 names under /dev/serial/by-path/ (which hold colons) can be given.\n"
         "                 On Windows DEVICE is COM5 (or \\\\.\\COM12), the search tries the\n"
         "                 COM ports present, and NX480_PORTS is semicolon-separated.\n"
         "  --demo         the demo relay inside the program instead of a serial port (its\n"
         "                 port is \"demo\"): a relay to learn on, with moving live values,\n"
         "                 made anew for each run, so a change lasts as long as the command\n"
         "  --trace        every frame on the line to standard error (the frame log of\n"
         "                 nx480-pc, logging category nx480.link.frames)\n"
         "  --service      service mode (calibration; the live values in tenths)\n"
         "  --help, -h     this text, or a command's with COMMAND --help\n"
         "  --version      the program's version\n"
         "\n"
         "Files written: a FIFO or character device in place (a FIFO's reader must be\n"
         "there already), a link to a file replaces the file; nothing else is replaced.\n"
         "\n"
         "Exit codes:\n"
         "  0 done   1 settings differ, or outside a profile   2 bad command line\n"
         "  3 no relay   4 communication error\n"
         "  5 bad file or profile, or standard output not written whole\n"
         "  6 refused by the relay   7 change made or not, its journal entry not closed\n"
         "  130 interrupted\n"
         "\n"
         "Ctrl-C, SIGTERM and SIGHUP stop the command cleanly (an upload is cancelled) and\n"
         "nothing more is sent to the relay; a second one ends the program at once.\n"
         "Progress goes to standard error while it is a terminal, messages always.\n";
}

}  // namespace nx480::ctl
