#include "protocol/receipts.h"

#include <algorithm>
#include <charconv>

namespace heartpage::wire {
namespace {

std::string Whole(std::string_view text) {
  std::string clean;
  for (std::size_t pos = 0; pos < text.size();) {
    if (text.substr(pos).starts_with(kFieldSeparator)) {
      pos += kFieldSeparator.size();
      continue;
    }
    clean += text[pos++];
  }
  // Without "い", a leading "ゼ" still reads as the start of a record.
  const std::string_view mark = kRecordSeparator.substr(kFieldSeparator.size());
  while (std::string_view(clean).starts_with(mark)) clean.erase(0, mark.size());
  return clean;
}

std::vector<Record> RecordsIn(std::string_view answer) {
  std::vector<Record> records;
  std::size_t start = answer.find(kRecordSeparator);
  while (start != std::string_view::npos) {
    start += kRecordSeparator.size();
    const std::size_t end = answer.find(kRecordSeparator, start);
    const std::string_view text = answer.substr(start, end - start);
    Record fields;
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t hit = std::min(text.find(kFieldSeparator, pos), text.size());
      fields.emplace_back(text.substr(pos, hit - pos));
      pos = hit + kFieldSeparator.size();
    }
    records.push_back(std::move(fields));
    start = end;
  }
  return records;
}

std::optional<long long> Count(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

const std::string& FieldOr(const Record& record, std::size_t index) {
  static const std::string kNone;
  return index < record.size() ? record[index] : kNone;
}

}  // namespace

std::vector<Record> ReceiptRecords(const Receipt& receipt) {
  std::vector<Record> records;
  records.push_back({Whole(receipt.question), Whole(receipt.choices[0]), Whole(receipt.choices[1]),
                     std::to_string(receipt.opened), receipt.first_opened, receipt.last_opened});
  for (const ReceiptAnswer& answer : receipt.answers)
    records.push_back({std::to_string(answer.choice), Whole(answer.text), answer.time});
  for (const Receipt& earlier : receipt.earlier) {
    records.push_back({std::string(kEarlierMark), Whole(earlier.question),
                       Whole(earlier.choices[0]), Whole(earlier.choices[1]),
                       std::to_string(earlier.opened), earlier.first_opened, earlier.last_opened,
                       earlier.replaced});
    for (const ReceiptAnswer& answer : earlier.answers)
      records.push_back({std::string(kEarlierAnswerMark), std::to_string(answer.choice),
                         Whole(answer.text), answer.time});
  }
  if (!receipt.opens.empty() || receipt.has_code || !receipt.hint.empty())
    records.push_back({std::string(kSettingsMark), receipt.opens, receipt.has_code ? "1" : "0",
                       Whole(receipt.hint)});
  return records;
}

std::optional<Receipt> ReceiptIn(std::string_view answer) {
  const std::vector<Record> records = RecordsIn(answer);
  if (records.empty()) return std::nullopt;
  const Record& head = records.front();
  const auto opened = Count(FieldOr(head, 3));
  if (!opened) return std::nullopt;
  Receipt receipt;
  receipt.question = FieldOr(head, 0);
  receipt.choices[0] = FieldOr(head, 1);
  receipt.choices[1] = FieldOr(head, 2);
  receipt.opened = *opened;
  receipt.first_opened = FieldOr(head, 4);
  receipt.last_opened = FieldOr(head, 5);
  // The version the answers read belong to; none after an unreadable one.
  bool in_earlier = false;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const Record& record = records[i];
    if (FieldOr(record, 0) == kSettingsMark) {
      receipt.opens = FieldOr(record, 1);
      receipt.has_code = FieldOr(record, 2) == "1";
      receipt.hint = FieldOr(record, 3);
      continue;
    }
    if (FieldOr(record, 0) == kEarlierMark) {
      const auto earlier_opened = Count(FieldOr(record, 4));
      in_earlier = earlier_opened.has_value();
      if (!in_earlier) continue;
      Receipt& earlier = receipt.earlier.emplace_back();
      earlier.question = FieldOr(record, 1);
      earlier.choices = {FieldOr(record, 2), FieldOr(record, 3)};
      earlier.opened = *earlier_opened;
      earlier.first_opened = FieldOr(record, 5);
      earlier.last_opened = FieldOr(record, 6);
      earlier.replaced = FieldOr(record, 7);
      continue;
    }
    // An earlier version's answer belongs to the version before it.
    const bool of_earlier = FieldOr(record, 0) == kEarlierAnswerMark;
    const std::size_t at = of_earlier ? 1 : 0;
    const auto choice = Count(FieldOr(record, at));
    if (!choice || (*choice != 1 && *choice != 2)) continue;
    if (of_earlier && !in_earlier) continue;
    (of_earlier ? receipt.earlier.back().answers : receipt.answers)
        .push_back({static_cast<int>(*choice), FieldOr(record, at + 1), FieldOr(record, at + 2)});
  }
  return receipt;
}

}  // namespace heartpage::wire
