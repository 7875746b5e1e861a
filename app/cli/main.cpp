#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "protocol/host.h"

namespace {

constexpr std::string_view kUsage =
    "usage: heartpage-cli COMMAND ...\n"
    "  build --style N [--set 'Text1(3)=value' ...] [--check] [-o FILE] [--strict]\n"
    "        build style N (1 to 8) from its defaults and the given fields and write\n"
    "        the page as the preview file holds it (GBK) to FILE or standard output\n"
    "  fields --style N\n"
    "        list style N's fields: the name --set takes, what it holds, its caption\n"
    "  preview --style N [--set ...] [--check] [--phone] [--strict]\n"
    "        build the page and show it in the browser (the file stays until the\n"
    "        next preview); with --phone inside a phone-sized frame (390 x 844)\n"
    "  encode TEXT      print the posted form of TEXT\n"
    "  decode CODES     print the text that posted CODES stand for\n"
    "  machine-id       print the identifier that this machine's published names are\n"
    "                   kept under\n"
    "  publish --style N [--set ...] [--check] [--name NAME] [--machine-id ID]\n"
    "          [--qr FILE.png] [--strict]\n"
    "        build the page and publish it on the publishing host under NAME (letters\n"
    "        and digits; the name this machine owns when left out); print its address\n"
    "        and, with --qr, write the address's QR code to FILE.png\n"
    "  qr TEXT [-o FILE.png]\n"
    "        print the QR code of TEXT in the terminal, or write it as a PNG\n"
    "  settings         print the publishing server's settings fields with their index\n"
    "  upload FILE [--machine-id ID]\n"
    "        send a picture, music or video file of your own to the publishing host\n"
    "        and print its public address\n"
    "  unpublish [--machine-id ID]\n"
    "        take down the page of the name this machine owns; the name stays its own\n"
    "  release [--machine-id ID]\n"
    "        give up the name this machine owns: its page goes, its address answers\n"
    "        404, and anyone may claim the name\n"
    "  status [--machine-id ID]\n"
    "        print the address of the page this machine owns and what came back from\n"
    "        it: how often it was opened, when last, and the answer to its question;\n"
    "        then when it opens and whether it asks for a code\n"
    "  poster [--name NAME] [--machine-id ID] [--line TEXT] -o FILE.png\n"
    "        draw the poster of the page online under NAME (the name this machine\n"
    "        owns when left out): its picture, TEXT or else its title, and the QR\n"
    "        code of its address, 1080 x 1920, to send in a chat\n"
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
    "  --version        print the version\n";

struct Command {
  std::string_view name;
  int (*run)(const std::vector<std::string>&);
  // Makes addresses of the publishing host: pages name it, requests go to it.
  bool uses_host = true;
};

constexpr Command kCommands[] = {
    {"build", heartpage::cli::Build},          {"fields", heartpage::cli::Fields},
    {"preview", heartpage::cli::Preview},      {"encode", heartpage::cli::Encode, false},
    {"decode", heartpage::cli::Decode, false}, {"machine-id", heartpage::cli::MachineId, false},
    {"publish", heartpage::cli::Publish},      {"settings", heartpage::cli::Settings},
    {"qr", heartpage::cli::Qr, false},         {"upload", heartpage::cli::UploadFile},
    {"unpublish", heartpage::cli::Unpublish},  {"release", heartpage::cli::Release},
    {"status", heartpage::cli::Status},        {"poster", heartpage::cli::Poster},
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  const std::string_view name = argc >= 2 ? argv[1] : "";
  if (name == "--help" || name == "-h" || name == "help") {
    std::cout << kUsage;
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
      return command.run(args);
    } catch (const heartpage::cli::UsageError& error) {
      std::cerr << "heartpage-cli " << name << ": " << error.what() << '\n';
      return 2;
    }
  }
  std::cerr << (name.empty() ? "heartpage-cli: no command given\n"
                             : "heartpage-cli: unknown command \"" + std::string(name) + "\"\n")
            << kUsage;
  return 2;
}
