#include <algorithm>
#include <array>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/arguments.h"
#include "app/cli/command_table.h"
#include "app/cli/commands.h"
#include "protocol/host.h"

namespace {

using heartpage::cli::Command;
using heartpage::cli::Flag;

template <std::size_t N, std::size_t M>
constexpr std::array<Flag, N + M> Plus(const std::array<Flag, N>& first,
                                       const std::array<Flag, M>& second) {
  std::array<Flag, N + M> both{};
  std::copy(first.begin(), first.end(), both.begin());
  std::copy(second.begin(), second.end(), both.begin() + N);
  return both;
}

constexpr Flag kStyle{"--style", "N", true};
constexpr Flag kMachineId{"--machine-id", "ID"};
constexpr std::span<const Flag> kNoFlags;
constexpr std::array<Flag, 1> kOwnFlags{kMachineId};
// What build, preview and publish read into a page (ParsePageRequest).
constexpr std::array<Flag, 6> kPageFlags{{kStyle,
                                          {"--set", "'Text1(3)=value'", false, true},
                                          {"--check", ""},
                                          {"--strict", ""},
                                          {"--question", "TEXT"},
                                          {"--answers", "'A,B'"}}};
// How a page opens, which the server keeps: for build to check, and publish.
constexpr std::array<Flag, 3> kGateFlags{
    {{"--opens", "'YYYY-MM-DD HH:MM'"}, {"--code", "TEXT"}, {"--hint", "TEXT"}}};
constexpr auto kBuildFlags =
    Plus(Plus(kPageFlags, std::array<Flag, 1>{{{"-o", "FILE"}}}), kGateFlags);
constexpr auto kPreviewFlags = Plus(kPageFlags, std::array<Flag, 1>{{{"--phone", ""}}});
constexpr auto kPublishFlags = Plus(
    Plus(kPageFlags, std::array<Flag, 3>{{{"--name", "NAME"}, kMachineId, {"--qr", "FILE.png"}}}),
    kGateFlags);
constexpr std::array<Flag, 1> kFieldsFlags{kStyle};
constexpr std::array<Flag, 4> kPosterFlags{
    {{"--name", "NAME"}, kMachineId, {"--line", "TEXT"}, {"-o", "FILE.png", true}}};
constexpr std::array<Flag, 1> kQrFlags{{{"-o", "FILE.png"}}};

namespace cli = heartpage::cli;
constexpr Command kCommands[] = {
    {"build", "", 0, kBuildFlags,
     "build style N (1 to 8) from its defaults and the given fields and write\n"
     "the page as the preview file holds it (GBK) to FILE or standard output",
     cli::Build},
    {"fields", "", 0, kFieldsFlags,
     "list style N's fields: the name --set takes, what it holds, its caption", cli::Fields},
    {"preview", "", 0, kPreviewFlags,
     "build the page and show it in the browser (the file stays until the\n"
     "next preview); with --phone inside a phone-sized frame (390 x 844)",
     cli::Preview},
    {"encode", "TEXT", 1, kNoFlags, "print the posted form of TEXT", cli::Encode, false},
    {"decode", "CODES", 1, kNoFlags, "print the text that posted CODES stand for", cli::Decode,
     false},
    {"machine-id", "", 0, kNoFlags,
     "print the identifier that this machine's published names are kept under", cli::MachineId,
     false},
    {"publish", "", 0, kPublishFlags,
     "build the page and publish it on the publishing host under NAME (letters\n"
     "and digits; the name this machine owns when left out); print its address\n"
     "and, with --qr, write the address's QR code to FILE.png",
     cli::Publish},
    {"qr", "TEXT", 1, kQrFlags, "print the QR code of TEXT in the terminal, or write it as a PNG",
     cli::Qr, false},
    {"settings", "", 0, kNoFlags, "print the publishing server's settings fields with their index",
     cli::Settings},
    {"upload", "FILE", 1, kOwnFlags,
     "send a picture, music or video file of your own to the publishing host\n"
     "and print its public address",
     cli::UploadFile},
    {"unpublish", "", 0, kOwnFlags,
     "take down the page of the name this machine owns; the name stays its own", cli::Unpublish},
    {"release", "", 0, kOwnFlags,
     "give up the name this machine owns: its page goes, its address answers\n"
     "404, and anyone may claim the name",
     cli::Release},
    {"status", "", 0, kOwnFlags,
     "print the address of the page this machine owns and what came back from\n"
     "it: how often it was opened, when last, and the answer to its question;\n"
     "then when it opens and whether it asks for a code",
     cli::Status},
    {"poster", "", 0, kPosterFlags,
     "draw the poster of the page online under NAME (the name this machine\n"
     "owns when left out): its picture, TEXT or else its title, and the QR\n"
     "code of its address, 1080 x 1920, to send in a chat",
     cli::Poster},
};

// What the flags several commands share mean, after the commands.
constexpr std::string_view kNotes =
    "build, preview and publish take --question TEXT [--answers 'A,B']: the page\n"
    "asks TEXT once its story is told and offers the two answers (我愿意 and\n"
    "让我想想 unless given); the answer tapped shows in status.\n"
    "build and publish take --opens 'YYYY-MM-DD HH:MM' (local time; '' for none) and\n"
    "--code TEXT --hint TEXT: the server holds the page back until that moment, and\n"
    "then asks for the code, showing the hint; build only checks them. status\n"
    "prints both, the code only as set or not; the poster of such a page shows\n"
    "nothing of it.\n"
    "build, preview and publish first try the page's picture, music and video\n"
    "addresses and read its dates, and print what looks wrong on standard error;\n"
    "with --strict that ends the command with status 1.\n"
    "upload, unpublish, release, status, poster and publish take --machine-id ID\n"
    "in place of this machine's identifier.\n"
    "  --version        print the version\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  const std::string_view name = argc >= 2 ? argv[1] : "";
  if (name == "--help" || name == "-h" || name == "help") {
    std::cout << cli::Usage(kCommands, kNotes);
    return 0;
  }
  if (name == "--version") {
    std::cout << "heartpage-cli " HEARTPAGE_VERSION "\n";
    return 0;
  }
  for (const Command& command : kCommands) {
    if (command.name != name) continue;
    if (command.uses_host) {
      if (const auto problem = heartpage::ConfiguredHostProblem()) {
        std::cerr << "heartpage-cli: " << problem->english << '\n';
        return 2;
      }
    }
    try {
      return command.run(cli::ParseArguments(command, args));
    } catch (const heartpage::cli::UsageError& error) {
      std::cerr << "heartpage-cli " << name << ": " << error.what() << '\n';
      return 2;
    }
  }
  std::cerr << (name.empty() ? "heartpage-cli: no command given\n"
                             : "heartpage-cli: unknown command \"" + std::string(name) + "\"\n")
            << cli::Usage(kCommands, kNotes);
  return 2;
}
