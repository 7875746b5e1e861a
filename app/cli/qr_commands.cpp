#include <iostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "qr/qr_code.h"
#include "publish/qr_image.h"

namespace heartpage::cli {

bool WriteQrPng(const std::string& text, const std::string& file) {
  if (SaveQrPng(text, QString::fromStdString(file))) return true;
  std::cerr << "heartpage-cli: cannot write the QR code to " << file << '\n';
  return false;
}

int Qr(const std::vector<std::string>& args) {
  std::string text;
  std::string output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 == args.size() || args[i + 1].empty()) throw UsageError("-o needs a file name");
      output = args[++i];
    } else if (text.empty() && !args[i].empty()) {
      text = args[i];
    } else {
      throw UsageError("qr takes one TEXT and optionally -o FILE.png");
    }
  }
  if (text.empty()) throw UsageError("qr needs the TEXT to encode");
  if (!output.empty()) return WriteQrPng(text, output) ? 0 : 1;
  const std::optional<QrCode> code = QrCode::Encode(text);
  if (!code) {
    std::cerr << "heartpage-cli qr: the text is too long for a QR code\n";
    return 1;
  }
  std::cout << QrTerminalText(*code);
  return 0;
}

}  // namespace heartpage::cli
