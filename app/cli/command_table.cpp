#include "app/cli/command_table.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>

#include "app/cli/arguments.h"
#include "text/qstring.h"

namespace heartpage::cli {
namespace {

// "--style" → "style", "-o" → "o": QCommandLineParser names them without
// their dashes.
QString Bare(std::string_view flag) {
  return Q(flag.substr(flag.find_first_not_of('-')));
}

const Flag* FindFlag(std::span<const Flag> flags, std::string_view name) {
  for (const Flag& flag : flags)
    if (flag.name == name) return &flag;
  return nullptr;
}

// "--style N", "[--check]", "[--set FIELD=VALUE ...]".
std::string Shown(const Flag& flag) {
  std::string shown(flag.name);
  if (!flag.value.empty()) (shown += ' ') += flag.value;
  if (flag.repeated) shown += " ...";
  return flag.required ? shown : '[' + shown + ']';
}

}  // namespace

bool Arguments::Has(std::string_view flag) const {
  for (const Given& given : given_)
    if (given.flag == flag) return true;
  return false;
}

std::optional<std::string> Arguments::Value(std::string_view flag) const {
  std::optional<std::string> value;
  for (const Given& given : given_)
    if (given.flag == flag) value = given.value;
  return value;
}

std::string Arguments::Filled(std::string_view flag) const {
  std::optional<std::string> value = Value(flag);
  if (value && value->empty()) throw UsageError(std::string(flag) + " needs a value");
  return value.value_or("");
}

std::vector<std::string> Arguments::Values(std::string_view flag) const {
  std::vector<std::string> values;
  for (const Given& given : given_)
    if (given.flag == flag) values.push_back(given.value);
  return values;
}

Arguments ParseArguments(const Command& command, const std::vector<std::string>& args) {
  Arguments parsed;
  if (command.flags.empty()) {
    parsed.words_ = args;
  } else {
    QCommandLineParser parser;
    // "-o" is a flag of its own, not the letter o of a cluster.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Flag& flag : command.flags)
      parser.addOption(QCommandLineOption(Bare(flag.name), QString(), Q(flag.value)));
    QStringList words{QStringLiteral("heartpage-cli")};
    for (const std::string& arg : args) words << Q(arg);
    // What the parser would call a missing value, said as the rest of the
    // program says it.
    if (!args.empty())
      if (const Flag* last = FindFlag(command.flags, args.back()); last && !last->value.empty())
        throw UsageError(args.back() + " needs a value");
    if (!parser.parse(words)) {
      const QStringList unknown = parser.unknownOptionNames();
      if (unknown.isEmpty()) throw UsageError(parser.errorText().toStdString());
      // Named as it was typed, dashes and all.
      const auto typed = std::find_if(args.begin(), args.end(), [&](const std::string& arg) {
        return arg.starts_with('-') && Bare(arg.substr(0, arg.find('='))) == unknown.front();
      });
      throw UsageError("unknown option \"" +
                       (typed != args.end() ? *typed : unknown.front().toStdString()) + "\"");
    }
    // The parser keeps each flag's values apart; the order they came in is
    // the command line's.
    for (const QString& name : parser.optionNames()) {
      const Flag* flag = nullptr;
      for (const Flag& candidate : command.flags)
        if (Bare(candidate.name) == name) flag = &candidate;
      parsed.given_.push_back({std::string(flag->name), std::string()});
    }
    for (const Flag& flag : command.flags) {
      if (flag.value.empty()) continue;
      const QStringList values = parser.values(Bare(flag.name));
      qsizetype next = 0;
      for (Arguments::Given& given : parsed.given_)
        if (given.flag == flag.name) given.value = values.value(next++).toStdString();
    }
    for (const QString& word : parser.positionalArguments())
      parsed.words_.push_back(word.toStdString());
    for (const Flag& flag : command.flags)
      if (flag.required && !parsed.Has(flag.name))
        throw UsageError(std::string(flag.name) + ' ' + std::string(flag.value) + " is required");
  }
  if (parsed.words_.size() > command.most_words) {
    const std::string& extra = parsed.words_[command.most_words];
    throw UsageError(std::string(command.name) + " takes no argument \"" + extra + "\"" +
                     (command.most_words > 0 ? " beside " + std::string(command.words) : ""));
  }
  return parsed;
}

std::string Usage(std::span<const Command> commands, std::string_view notes) {
  constexpr std::size_t kWidth = 80;
  constexpr std::string_view kIndent = "        ";
  std::string usage = "usage: heartpage-cli COMMAND ...\n";
  for (const Command& command : commands) {
    std::string line = "  " + std::string(command.name);
    const std::size_t continued = line.size() + 1;
    std::vector<std::string> parts;
    if (!command.words.empty()) parts.emplace_back(command.words);
    for (const Flag& flag : command.flags) parts.push_back(Shown(flag));
    for (const std::string& part : parts) {
      if (line.size() + 1 + part.size() > kWidth) {
        (usage += line) += '\n';
        line = std::string(continued - 1, ' ');
      }
      (line += ' ') += part;
    }
    (usage += line) += '\n';
    for (std::size_t start = 0; start < command.help.size();) {
      const std::size_t end = std::min(command.help.find('\n', start), command.help.size());
      ((usage += kIndent) += command.help.substr(start, end - start)) += '\n';
      start = end + 1;
    }
  }
  return usage + std::string(notes);
}

}  // namespace heartpage::cli
