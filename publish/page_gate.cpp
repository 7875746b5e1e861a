#include "publish/page_gate.h"

#include <QDateTime>
#include <QTimeZone>

#include "pages/builders.h"
#include "publish/utc_time.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

constexpr auto kUtcForm = "yyyy-MM-dd HH:mm:ss";
constexpr auto kLocalForm = "yyyy-MM-dd HH:mm";

std::string Trimmed(const std::string& text) {
  return QString::fromStdString(text).trimmed().toStdString();
}

QDateTime At(std::chrono::system_clock::time_point now) {
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count(),
      QTimeZone::utc());
}

}  // namespace

QDateTime TimeOfUtc(std::string_view utc) {
  if (!wire::IsUtcTime(utc)) return {};
  QDateTime time = QDateTime::fromString(Q(utc), QString::fromLatin1(kUtcForm));
  time.setTimeZone(QTimeZone::utc());
  return time;
}

std::string UtcOf(const QDateTime& time) {
  return time.toUTC().toString(QString::fromLatin1(kUtcForm)).toStdString();
}

std::string NowUtc() {
  return UtcOf(QDateTime::currentDateTimeUtc());
}

QDateTime TimeOfLocalMinute(std::string_view local) {
  return QDateTime::fromString(Q(local).trimmed(), QString::fromLatin1(kLocalForm));
}

std::optional<std::string> UtcOfLocalMinute(std::string_view local) {
  const QDateTime time = TimeOfLocalMinute(local);
  if (!time.isValid() || time.toString(QString::fromLatin1(kLocalForm)) != Q(local).trimmed())
    return {};
  return UtcOf(time);
}

std::string LocalMinuteOfUtc(std::string_view utc) {
  const QDateTime time = TimeOfUtc(utc);
  if (!time.isValid()) return {};
  return time.toLocalTime().toString(QString::fromLatin1(kLocalForm)).toStdString();
}

wire::PageSettings GateOf(const FieldSource& fields) {
  wire::PageSettings settings;
  settings.opens = UtcOfLocalMinute(fields.Value(gate::kOpensField)).value_or("");
  // Typed to be typed again on a phone: blanks around it are no part of it.
  settings.code = Trimmed(fields.Value(gate::kCodeField));
  settings.hint = Trimmed(fields.Value(gate::kHintField));
  return settings;
}

std::vector<Finding> GateFindings(const FieldSource& fields,
                                  std::chrono::system_clock::time_point now) {
  std::vector<Finding> findings;
  const auto add = [&](std::string_view caption, std::string reason, bool blocks) {
    Finding finding{std::string(caption), std::move(reason)};
    finding.setting = true;
    finding.blocks = blocks;
    findings.push_back(std::move(finding));
  };
  const std::string local = Trimmed(fields.Value(gate::kOpensField));
  if (!local.empty()) {
    const std::optional<std::string> utc = UtcOfLocalMinute(local);
    if (!utc) {
      add(gate::kOpensCaption, "本机时间里没有“" + local + "”这个时刻", true);
    } else if (TimeOfUtc(*utc) <= At(now)) {
      add(gate::kOpensCaption, OpeningText(*utc) + " 已经过去，网页会立即开启", false);
    }
  }
  for (Finding& finding : CodeFindings(GateOf(fields))) findings.push_back(std::move(finding));
  return findings;
}

std::string OpeningText(std::string_view utc) {
  const QDateTime time = TimeOfUtc(utc);
  if (!time.isValid()) return std::string(utc);
  const QDateTime local = time.toLocalTime();
  const bool this_year = local.date().year() == QDate::currentDate().year();
  return local
      .toString(this_year ? QStringLiteral("M月d日 HH:mm") : QStringLiteral("yyyy年M月d日 HH:mm"))
      .toStdString();
}

std::vector<std::string> GateLines(std::string_view opens_utc, bool has_code,
                                   std::chrono::system_clock::time_point now) {
  std::vector<std::string> lines;
  if (const QDateTime opens = TimeOfUtc(opens_utc); opens.isValid()) {
    lines.push_back((opens > At(now) ? "将于 " : "已于 ") + OpeningText(opens_utc) + " 开启");
  }
  if (has_code) lines.emplace_back("需要口令才能打开");
  return lines;
}

}  // namespace heartpage
