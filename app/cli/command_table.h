#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace heartpage::cli {

// One flag a command takes: "--style" and what --help calls its value
// ("N"), or a switch, which takes none.
struct Flag {
  std::string_view name;
  std::string_view value;
  bool required = false;
  // Shown as "[--set FIELD=VALUE ...]": it may be given again and again.
  bool repeated = false;
};

struct Command;

// What the command line said to one command, read by QCommandLineParser from
// the command's flags: each flag's values in the order given, and the words
// that are no flag.
class Arguments {
 public:
  bool Has(std::string_view flag) const;
  // The last value given; nothing when the flag was not.
  std::optional<std::string> Value(std::string_view flag) const;
  // Like Value, for a flag whose value must not be empty: throws UsageError
  // when it is ("--machine-id needs a value").
  std::string Filled(std::string_view flag) const;
  std::vector<std::string> Values(std::string_view flag) const;
  const std::vector<std::string>& Words() const { return words_; }

 private:
  friend Arguments ParseArguments(const Command& command, const std::vector<std::string>& args);
  struct Given {
    std::string flag;
    std::string value;
  };
  std::vector<Given> given_;
  std::vector<std::string> words_;
};

// One command of heartpage-cli, as parsing, its errors and --help know it.
struct Command {
  std::string_view name;
  // The words it takes beside its flags, as --help names them ("FILE").
  std::string_view words;
  std::size_t most_words;
  std::span<const Flag> flags;
  // What --help says under the command, line by line.
  std::string_view help;
  int (*run)(const Arguments& args);
  // Makes addresses of the publishing host: pages name it, requests go to it.
  bool uses_host = true;
};

// Reads `args` with `command`'s flags. Throws UsageError for an unknown
// flag, one without its value, a required one missing, or a word too many.
// A command without flags takes its words as they stand, "-" and all: the
// codes `decode` reads start with one.
Arguments ParseArguments(const Command& command, const std::vector<std::string>& args);

// --help's text: each command with its flags and words, its help under it,
// then `notes`.
std::string Usage(std::span<const Command> commands, std::string_view notes);

}  // namespace heartpage::cli
