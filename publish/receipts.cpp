#include "publish/receipts.h"

#include <QDateTime>
#include <atomic>
#include <stdexcept>

#include "publish/answer_messages.h"
#include "publish/utc_time.h"

namespace heartpage {
namespace {

std::atomic<unsigned> pages_published{0};

QDateTime LocalTime(std::string_view utc) {
  const QDateTime time = TimeOfUtc(utc);
  return time.isValid() ? time.toLocalTime() : QDateTime();
}

}  // namespace

void NotePagePublished() {
  ++pages_published;
}

unsigned PagesPublished() {
  return pages_published.load();
}

ReceiptOutcome FetchReceipt(std::string_view name, const UploadServices& services) {
  const std::optional<std::string> machine_id = ReadMachineId(services);
  if (!machine_id) return {std::nullopt, std::string(upload_text::kNoMachineId)};
  const PostResult answer = services.post(ReceiptsRequest(name, *machine_id));
  if (answer.status == 0) return {std::nullopt, std::string(upload_text::kNoServer), 0};
  if (!answer.ok)
    return {std::nullopt, std::string(MessageForStatus(answer.status)), answer.status};
  std::optional<wire::Receipt> receipt = wire::ReceiptIn(answer.text);
  // An answer that reads as no receipt comes from a server of another kind.
  if (!receipt)
    return {std::nullopt, std::string(MessageForStatus(wire::status::kMalformed)), answer.status};
  return {std::move(receipt), {}, answer.status};
}

const wire::ReceiptAnswer* LastAnswer(const wire::Receipt& receipt) {
  return receipt.answers.empty() ? nullptr : &receipt.answers.back();
}

std::string LocalTimeText(std::string_view utc) {
  const QDateTime time = LocalTime(utc);
  if (!time.isValid()) return std::string(utc);
  return time.toString(QStringLiteral("M月d日 HH:mm")).toStdString();
}

std::string AnswerText(const wire::ReceiptAnswer& answer) {
  return "TA的回答：" + answer.text + "（" + LocalTimeText(answer.time) + "）";
}

std::string ReceiptText(const wire::Receipt& receipt) {
  if (receipt.opened == 0 && receipt.answers.empty()) return std::string(upload_text::kNotOpened);
  std::string text = "已打开 " + std::to_string(receipt.opened) + " 次";
  if (!receipt.last_opened.empty()) text += " · 最近 " + LocalTimeText(receipt.last_opened);
  if (receipt.question.empty()) return text;
  const wire::ReceiptAnswer* last = LastAnswer(receipt);
  if (last == nullptr) return text + " · TA还没有回答";
  // The answer's day goes without saying when it is the last opening's.
  const QDateTime answered = LocalTime(last->time);
  const QDateTime opened = LocalTime(receipt.last_opened);
  const std::string when =
      answered.isValid() && opened.isValid() && answered.date() == opened.date()
          ? answered.toString(QStringLiteral("HH:mm")).toStdString()
          : LocalTimeText(last->time);
  return text + " · TA的回答：" + last->text + "（" + when + "）";
}

namespace {

// An earlier version's answer says which question it answers: the page
// online may ask another now.
std::string EarlierAnswerText(const wire::Receipt& version, const wire::ReceiptAnswer& answer) {
  const std::string asked = version.question.empty() ? "" : "“" + version.question + "” ";
  return asked + AnswerText(answer);
}

}  // namespace

std::vector<std::string> EarlierLines(const wire::Receipt& receipt) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < receipt.earlier.size(); ++i) {
    const wire::Receipt& version = receipt.earlier[i];
    const char* which = i == 0 ? "上一版：" : i == 1 ? "上上版：" : "更早：";
    const wire::ReceiptAnswer* last = LastAnswer(version);
    lines.push_back(which + (last != nullptr ? EarlierAnswerText(version, *last)
                                             : "已打开 " + std::to_string(version.opened) + " 次"));
  }
  return lines;
}

std::string NewestAnswerText(const wire::Receipt& receipt) {
  if (const wire::ReceiptAnswer* last = LastAnswer(receipt)) return AnswerText(*last);
  for (std::size_t i = 0; i < receipt.earlier.size(); ++i) {
    if (const wire::ReceiptAnswer* last = LastAnswer(receipt.earlier[i]))
      return (i == 0 ? "上一版：" : "更早：") + EarlierAnswerText(receipt.earlier[i], *last);
  }
  return {};
}

std::string ReplaceNote(const wire::Receipt& receipt) {
  if (receipt.question.empty() || (receipt.opened == 0 && receipt.answers.empty())) return {};
  return receipt.answers.empty() ? "打开记录会保留" : "TA的回答会保留";
}

}  // namespace heartpage
