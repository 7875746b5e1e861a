#include <fstream>
#include <iostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "app/cli/field_report.h"
#include "pages/holder.h"
#include "preview/preview.h"

namespace heartpage::cli {

int Build(const std::vector<std::string>& args) {
  const PageRequest request = ParsePageRequest(args);
  if (!ReportFindings(request)) return 1;
  BuildStyle(request.style, request.fields);
  const std::string bytes = PreviewBytes(GGCT::Get().FGN);
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

int Preview(const std::vector<std::string>& args) {
  const PageRequest request = ParsePageRequest(args);
  if (!request.output.empty()) throw UsageError("preview writes its own file; -o does not apply");
  if (!ReportFindings(request)) return 1;
  BuildStyle(request.style, request.fields);
  if (const auto error = WritePreview()) {
    std::cerr << "heartpage-cli: " << *error << '\n';
    return 1;
  }
  return 0;
}

}  // namespace heartpage::cli
