// From a click on "确认上传" to "上传成功！" in the upload dialog, for a 25 KB
// page against a heartpage-server on a free loopback port: the whole road
// behind the button (name lookup, claim, store) as the user waits for it.
// Also the click of a machine that owns its name (the store alone). The
// server runs without per-client rates; a click that does not end in
// "上传成功！" ends the run with the status shown and exit status 1.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/local_server.h"
#include "net/form_post.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/upload_dialog.h"
#include "text/gbk.h"

namespace {

// About 25 KB once in GBK.
std::string Page() {
  std::string page = "<html><head><meta charset=\"gbk\"><title>表白</title></head><body>\n";
  while (heartpage::ToGbk(page).size() < 25 * 1024)
    page += "<p class=\"line\">亲爱的，遇见你是我这辈子最美好的事 520 ❤</p>\n";
  return page + "</body></html>\n";
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// One click of an open dialog, in milliseconds; false, the benchmark ended,
// when it did not end in success.
bool TimedClick(benchmark::State& state, heartpage::UploadDialog* dialog, double* ms) {
  auto* status = dialog->findChild<QLabel*>("ts");
  status->clear();
  const auto start = std::chrono::steady_clock::now();
  dialog->findChild<QPushButton*>("Command1")->click();
  // A new name is confirmed with its address first: answered at once.
  if (auto* question = dialog->findChild<QMessageBox*>("NameConfirm"))
    question->button(QMessageBox::Yes)->click();
  // The upload runs in the background; its outcome comes through the loop.
  while (dialog->uploading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (status->text() == QStringLiteral("上传成功！")) return true;
  heartpage::bench::FailIteration(
      state, "click to upload \"" + dialog->findChild<QLineEdit*>("Text1")->text().toStdString() +
                 "\": " + status->text().toStdString());
  return false;
}

// The dialogs' services: the server at HEARTPAGE_HOST, as `machine`. Each
// new name is claimed by a machine of its own, as people publish: the dialog
// takes a machine for the owner of one name, and reads its claims that way.
heartpage::ClientServices Services(const std::string& machine) {
  heartpage::ClientServices made;
  made.post = [](const std::string& body, const heartpage::PostLimits& limits) {
    return heartpage::PostFormChecked(heartpage::EndpointAddress(), body, limits);
  };
  made.machine_id = [machine] { return machine; };
  return made;
}

void Close(heartpage::UploadDialog* dialog) {
  dialog->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_ClickToUploadedNewName(benchmark::State& state) {
  static int next = 0;
  std::vector<double> samples;
  for (auto _ : state) {
    state.PauseTiming();
    heartpage::GGCT::Get().ZCYN.clear();
    const int click = next++;
    heartpage::UploadDialog* dialog = heartpage::ShowUploadDialog(
        heartpage::FixedPageSource(1, Page()),
        Services("bench-click-" + std::to_string(getpid()) + "-" + std::to_string(click)));
    dialog->findChild<QLineEdit*>("Text1")->setText(
        QStringLiteral("click%1x%2").arg(getpid()).arg(click));
    state.ResumeTiming();
    double ms = 0;
    if (!TimedClick(state, dialog, &ms)) {
      Close(dialog);
      break;
    }
    samples.push_back(ms);
    state.PauseTiming();
    Close(dialog);
    state.ResumeTiming();
  }
  state.counters["median_ms"] = Median(samples);
}
BENCHMARK(BM_ClickToUploadedNewName)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_ClickToUploadedOwnedName(benchmark::State& state) {
  heartpage::GGCT::Get().ZCYN.clear();
  heartpage::UploadDialog* dialog = heartpage::ShowUploadDialog(
      heartpage::FixedPageSource(1, Page()), Services("bench-click-owner"));
  dialog->findChild<QLineEdit*>("Text1")->setText(QStringLiteral("owned%1").arg(getpid()));
  double ms = 0;
  // Claims the name; every later click only stores.
  std::vector<double> samples;
  if (TimedClick(state, dialog, &ms)) {
    for (auto _ : state) {
      if (!TimedClick(state, dialog, &ms)) break;
      samples.push_back(ms);
    }
  }
  Close(dialog);
  state.counters["median_ms"] = Median(samples);
}
BENCHMARK(BM_ClickToUploadedOwnedName)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const heartpage::bench::LocalServer server(HEARTPAGE_SERVER);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return heartpage::bench::ExitStatus("upload_click_bench");
}
