#include <iostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage::cli {
namespace {

const std::string& OnlyArgument(const Arguments& args, const char* what) {
  if (args.Words().size() != 1) throw UsageError(std::string("expected exactly one ") + what);
  return args.Words().front();
}

}  // namespace

int Encode(const Arguments& args) {
  std::cout << EncodeValue(OnlyArgument(args, "TEXT")) << '\n';
  return 0;
}

int Decode(const Arguments& args) {
  std::string error;
  const auto bytes = DecodeValue(OnlyArgument(args, "CODES"), &error);
  if (!bytes) throw UsageError("cannot decode: " + error);
  std::cout << FromGbk(*bytes) << '\n';
  return 0;
}

}  // namespace heartpage::cli
