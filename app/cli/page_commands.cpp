#include <fstream>
#include <iostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "app/cli/field_report.h"
#include "pages/builders.h"
#include "preview/preview.h"

namespace heartpage::cli {

int Build(const Arguments& args) {
  const PageRequest request = ParsePageRequest(args);
  if (!ReportFindings(request)) return 1;
  const std::string bytes = PreviewBytes(BuildPage(request.style, request.fields));
  if (request.output.empty()) {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return std::cout.flush() ? 0 : 1;
  }
  std::ofstream out(request.output, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "heartpage-cli: cannot write " << request.output << '\n';
    return 1;
  }
  return 0;
}

int Preview(const Arguments& args) {
  // --phone: in the phone-sized frame, as "手机预览" shows it.
  const bool phone = args.Has("--phone");
  const PageRequest request = ParsePageRequest(args);
  if (!ReportFindings(request)) return 1;
  const std::string page = BuildPage(request.style, request.fields);
  // Kept until the next preview from the command line (or the program's
  // next start): the browser may start after this command has ended.
  PreviewHooks hooks;
  hooks.keep = true;
  hooks.directory = [] { return KeptPreviewFolder(PreviewDirectory(), "cli"); };
  if (const auto error = phone ? WritePhonePreview(page, hooks) : WritePreview(page, hooks)) {
    std::cerr << "heartpage-cli: " << *error << '\n';
    return 1;
  }
  return 0;
}

}  // namespace heartpage::cli
