// The poster of the page online: what the upload dialog's "保存海报" makes.
#include <QGuiApplication>
#include <QImage>
#include <iostream>
#include <optional>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "net/form_post.h"
#include "net/server_requests.h"
#include "pages/styles.h"
#include "protocol/host.h"
#include "protocol/page_name.h"
#include "publish/poster.h"
#include "publish/receipts.h"
#include "text/gbk.h"

namespace heartpage::cli {
namespace {

std::optional<std::string> Fetched(const std::string& address) {
  FetchResult got = FetchAddress(address);
  if (!got.ok) return std::nullopt;
  return std::move(got.bytes);
}

}  // namespace

int Poster(const Arguments& args) {
  std::string name = args.Filled("--name");
  const std::string machine_id = args.Filled("--machine-id");
  const std::string line = args.Filled("--line");
  const std::string output = args.Filled("-o");
  name = PageNameKey(name);
  std::optional<std::string> id;
  if (name.empty()) {
    id = MachineIdFor("poster", machine_id);
    if (!id) return 1;
    name = FetchOwnedName(*id);
    if (name.empty()) {
      std::cerr << "heartpage-cli poster: this machine owns no name on " << EndpointAddress()
                << "; give one with --name NAME\n";
      return 1;
    }
  }
  const std::string address = PageAddress(name);
  const FetchResult page = FetchAddress(address);
  if (!page.ok) {
    std::cerr << "heartpage-cli poster: no page online at " << address;
    if (page.status != 0) std::cerr << " (" << page.status << ')';
    std::cerr << '\n';
    return 1;
  }

  // Text is set in the program's faces, and nothing is shown: no display is
  // needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char program[] = "heartpage-cli";
  char* argv[] = {program, nullptr};
  const QGuiApplication application(argc, argv);
  // How the page opens, which its receipt tells its owner: a page held back
  // until its moment or its code shows none of itself on its poster.
  if (!id && !machine_id.empty()) id = machine_id;
  wire::Receipt gate;
  if (id) {
    const UploadServices services{PostToEndpoint, [&id] { return *id; }};
    if (ReceiptOutcome outcome = FetchReceipt(name, services); outcome.receipt)
      gate = std::move(*outcome.receipt);
  }
  const std::string html = FromGbk(page.bytes);
  const PosterContent content = PosterContentOf(html, address, QString::fromStdString(line),
                                                Fetched, gate.opens, gate.has_code);
  const QImage poster = DrawPoster(content);
  if (poster.isNull() || !poster.save(QString::fromStdString(output), "PNG")) {
    std::cerr << "heartpage-cli poster: cannot write the poster to " << output << '\n';
    return 1;
  }
  // What it shows, for a sender who expected another picture.
  std::cout << output << '\n';
  if (!content.picture_address.empty())
    std::cout << "picture: " << content.picture_address << '\n';
  else if (const int style = StyleOfPage(html); style != 0)
    std::cout << "picture: the artwork of style " << style << '\n';
  else if (content.held_back)
    std::cout << "picture: a heart (the page online shows nothing of itself yet)\n";
  if (content.held_back)
    std::cout << "held back: " << content.line.toStdString()
              << (content.opening.isEmpty() ? "" : ", " + content.opening.toStdString()) << '\n';
  return 0;
}

}  // namespace heartpage::cli
