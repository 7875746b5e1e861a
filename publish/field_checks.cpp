#include "publish/field_checks.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <optional>
#include <utility>

#include "net/curl_trust.h"
#include "pages/field_encoding.h"
#include "publish/page_gate.h"
#include "text/utf8.h"

namespace heartpage {
namespace {

using Clock = std::chrono::steady_clock;

// The field's caption without its colon. Where boxes share a caption (a
// line of style 4 has a short and a long box, a picture of style 7 several
// captions), each is named by its place among them, as they stand on the
// window from left to right.
std::string CaptionOf(const Style& style, const FieldRow& row) {
  std::string caption = row.caption.empty() ? row.Name() : row.caption;
  for (const std::string_view colon : {"：", ":"}) {
    if (caption.ends_with(colon)) caption.resize(caption.size() - colon.size());
  }
  if (row.caption.empty()) return caption;
  int place = 0;
  int sharing = 0;
  for (const FieldRow& other : style.rows) {
    if (other.caption != row.caption) continue;
    ++sharing;
    if (other.index <= row.index) ++place;
  }
  if (sharing > 1) caption += "（第" + std::to_string(place) + "个框）";
  return caption;
}

// As std::isspace, the vertical tab and form feed too.
std::string_view Trim(std::string_view text) {
  return Trimmed(text, " \t\n\v\f\r");
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// ---- Date parts -------------------------------------------------------

std::optional<int> WholeNumber(std::string_view text) {
  text = Trim(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int DaysIn(int year, int month0) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month0 == 1 && leap ? 29 : kDays[month0];
}

// What is wrong with the date the three fields make; nothing when they make
// a real one. The month's value counts from 0, as the pages' scripts do; the
// sender is told of it as the calendar numbers it, as the editors show it.
std::optional<std::string> DateProblem(const std::string& year_text, const std::string& month_text,
                                       const std::string& day_text) {
  const auto quoted = [](const std::string& text) { return "“" + text + "”"; };
  const std::optional<int> year = WholeNumber(year_text);
  if (!year) return "年份" + quoted(year_text) + "不是数字";
  const std::optional<int> month0 = WholeNumber(month_text);
  if (!month0) return "月份" + quoted(month_text) + "不是数字";
  if (*month0 < 0 || *month0 > 11)
    return "没有 " + std::to_string(*month0 + 1) + " 月（月份填 1–12）";
  const std::optional<int> day = WholeNumber(day_text);
  if (!day) return "日" + quoted(day_text) + "不是数字";
  if (*day < 1 || *day > DaysIn(*year, *month0))
    return std::to_string(*year) + " 年 " + std::to_string(*month0 + 1) + " 月没有 " +
           std::to_string(*day) + " 日";
  return std::nullopt;
}

const FieldRow* NextOfKind(const Style& style, std::size_t from, FieldKind kind) {
  for (std::size_t i = from; i < style.rows.size(); ++i)
    if (style.rows[i].kind == kind) return &style.rows[i];
  return nullptr;
}

// ---- Addresses --------------------------------------------------------

bool IsAddressKind(FieldKind kind) {
  return kind == FieldKind::kPicture || kind == FieldKind::kMusic || kind == FieldKind::kVideo ||
         kind == FieldKind::kAddress;
}

// Whether a content type fits the field. Music and video are also accepted
// as application/octet-stream: many file hosts send every download so, and
// browsers play it by its bytes. An answer without a type is not judged.
std::optional<std::string> WrongType(FieldKind kind, std::string_view content_type) {
  std::string type = Lower(Trim(content_type.substr(0, content_type.find(';'))));
  if (type.empty() || kind == FieldKind::kAddress) return std::nullopt;
  const bool octets = type == "application/octet-stream" || type == "binary/octet-stream";
  switch (kind) {
    case FieldKind::kPicture:
      if (type.starts_with("image/")) return std::nullopt;
      return "不是图片（" + type + "）";
    case FieldKind::kMusic:
      if (type.starts_with("audio/") || type == "application/ogg" || octets) return std::nullopt;
      return "不是音乐（" + type + "）";
    case FieldKind::kVideo:
      if (type.starts_with("video/") || octets || type == "application/vnd.apple.mpegurl" ||
          type == "application/x-mpegurl")
        return std::nullopt;
      return "不是视频（" + type + "）";
    default:
      return std::nullopt;
  }
}

// A ranged GET wants the answer's head only: the first body bytes end it.
size_t StopAtBody(char*, size_t, size_t, void*) {
  return 0;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

struct Attempt {
  std::size_t index = 0;  // into the addresses
  bool ranged_get = false;
  std::unique_ptr<CURL, EasyDeleter> easy;
};

std::string TransportReason(CURLcode code, std::chrono::milliseconds limit) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "找不到这个网站";
    case CURLE_COULDNT_CONNECT:
      return "无法连接";
    case CURLE_OPERATION_TIMEDOUT:
      return std::to_string((limit.count() + 999) / 1000) + " 秒内没有回应";
    case CURLE_TOO_MANY_REDIRECTS:
      return "跳转次数过多";
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "跳转到了不是网页的地址";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
      return "网站的安全证书无法验证";
    default:
      return "无法读取";
  }
}

// Some hosts refuse HEAD (405, 501, or a 400 or 403 from a signed address)
// yet serve the same address to a GET; a refusal that names the address as
// gone is believed.
bool WorthAGet(long status) {
  return status >= 400 && status != 404 && status != 410;
}

class AddressChecker {
 public:
  AddressChecker(const std::vector<AddressCheck>& addresses, const CheckOptions& options)
      : addresses_(addresses),
        options_(options),
        deadline_(Clock::now() + options.limit),
        reasons_(addresses.size()) {}

  std::vector<std::string> Run() {
    multi_.reset(curl_multi_init());
    if (!multi_) {
      std::fill(reasons_.begin(), reasons_.end(), "无法读取");
      return reasons_;
    }
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
      const std::string& address = addresses_[i].address;
      const std::string scheme = Lower(address.substr(0, address.find(':')));
      if (address.size() >= 2 && (address[0] == '/' || address[0] == '\\') &&
          (address[1] == '/' || address[1] == '\\')) {
        reasons_[i] = std::string(kOtherHostReason);
        continue;
      }
      if (address.find("://") == std::string::npos || (scheme != "http" && scheme != "https")) {
        reasons_[i] = "不是以 http:// 或 https:// 开头的网址";
        continue;
      }
      Start(i, false);
    }
    Wait();
    return reasons_;
  }

 private:
  void Start(std::size_t index, bool ranged_get) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    if (left.count() <= 0) {
      reasons_[index] = TransportReason(CURLE_OPERATION_TIMEDOUT, options_.limit);
      return;
    }
    auto attempt = std::make_unique<Attempt>();
    attempt->index = index;
    attempt->ranged_get = ranged_get;
    attempt->easy.reset(curl_easy_init());
    CURL* const e = attempt->easy.get();
    if (e == nullptr) {
      reasons_[index] = "无法读取";
      return;
    }
    curl_easy_setopt(e, CURLOPT_URL, addresses_[index].address.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(options_.max_redirects));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A name lookup that hangs past the limit is left to finish on its own
    // thread rather than waited for when the transfer is given up.
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Mozilla/5.0 (compatible; HeartPage address check)");
    // Loopback and the local network are reached directly even where a proxy
    // is configured for the rest.
    curl_easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, StopAtBody);
    if (ranged_get) {
      curl_easy_setopt(e, CURLOPT_RANGE, "0-0");
    } else {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    }
    if (Lower(addresses_[index].address).starts_with("https:") && !TrustExtraAuthorities(e)) {
      reasons_[index] = TransportReason(CURLE_SSL_CACERT_BADFILE, options_.limit);
      return;
    }
    curl_easy_setopt(e, CURLOPT_PRIVATE, attempt.get());
    if (curl_multi_add_handle(multi_.get(), e) != CURLM_OK) {
      reasons_[index] = "无法读取";
      return;
    }
    attempts_.push_back(std::move(attempt));
  }

  void Finish(Attempt& attempt, CURLcode code) {
    CURL* const e = attempt.easy.get();
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    char* type = nullptr;
    curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type);
    const std::size_t index = attempt.index;
    // The ranged GET ends itself at the first body byte, after the head.
    const bool answered = code == CURLE_OK || (code == CURLE_WRITE_ERROR && status != 0);
    if (!answered) {
      if (!attempt.ranged_get && (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR)) {
        pending_gets_.push_back(index);
        return;
      }
      reasons_[index] = TransportReason(code, options_.limit);
      return;
    }
    if (!attempt.ranged_get && WorthAGet(status)) {
      pending_gets_.push_back(index);
      return;
    }
    // A redirect that is still one here led nowhere (no Location, or 304).
    if (status >= 300 || status < 200) {
      reasons_[index] = "服务器回答 " + std::to_string(status);
    } else if (const auto wrong = WrongType(addresses_[index].kind, type ? type : "")) {
      reasons_[index] = *wrong;
    }
  }

  void Remove(CURL* easy) {
    curl_multi_remove_handle(multi_.get(), easy);
    std::erase_if(attempts_, [easy](const auto& attempt) { return attempt->easy.get() == easy; });
  }

  void Wait() {
    while (!attempts_.empty()) {
      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      int queued = 0;
      while (const CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* const easy = message->easy_handle;
        const CURLcode code = message->data.result;
        Attempt* attempt = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &attempt);
        Finish(*attempt, code);
        Remove(easy);
      }
      for (const std::size_t index : std::exchange(pending_gets_, {})) Start(index, true);
      if (attempts_.empty()) break;
      const auto now = Clock::now();
      if (now >= deadline_) {
        // Each transfer has its own time-out too; this is the backstop.
        for (const auto& attempt : attempts_) {
          reasons_[attempt->index] = TransportReason(CURLE_OPERATION_TIMEDOUT, options_.limit);
          curl_multi_remove_handle(multi_.get(), attempt->easy.get());
        }
        attempts_.clear();
        break;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count();
      curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::min<long>(left, 100)),
                      nullptr);
    }
  }

  const std::vector<AddressCheck>& addresses_;
  const CheckOptions& options_;
  const Clock::time_point deadline_;
  std::vector<std::string> reasons_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  // Declared after the multi handle, so that they are cleaned up before it.
  std::vector<std::unique_ptr<Attempt>> attempts_;
  std::vector<std::size_t> pending_gets_;
};

}  // namespace

std::vector<std::string> CheckAddresses(const std::vector<AddressCheck>& addresses,
                                        const CheckOptions& options) {
  if (addresses.empty()) return {};
  return AddressChecker(addresses, options).Run();
}

std::vector<Finding> CheckFields(const Style& style, const FieldSource& fields,
                                 const CheckOptions& options) {
  std::vector<AddressCheck> addresses;
  std::vector<std::size_t> address_rows;
  std::vector<std::pair<std::size_t, std::string>> dates;
  for (std::size_t i = 0; i < style.rows.size(); ++i) {
    const FieldRow& row = style.rows[i];
    if (IsAddressKind(row.kind)) {
      std::string address(Trim(fields.Value(row.Name())));
      if (address.empty()) continue;
      if (options.known_answer) {
        if (const auto answer = options.known_answer(address)) {
          if (answer->status < 200 || answer->status >= 300)
            dates.emplace_back(i, "服务器回答 " + std::to_string(answer->status));
          else if (auto wrong = WrongType(row.kind, answer->content_type))
            dates.emplace_back(i, std::move(*wrong));
          continue;
        }
      }
      if (!options.try_addresses) continue;
      if (!options.skip_origin.empty() && address.starts_with(options.skip_origin + "/")) continue;
      addresses.push_back({CaptionOf(style, row), row.kind, std::move(address)});
      address_rows.push_back(i);
    } else if (row.kind == FieldKind::kYear) {
      const FieldRow* month = NextOfKind(style, i, FieldKind::kMonth0);
      const FieldRow* day = NextOfKind(style, i, FieldKind::kDay);
      if (month == nullptr || day == nullptr) continue;
      if (auto problem = DateProblem(fields.Value(row.Name()), fields.Value(month->Name()),
                                     fields.Value(day->Name())))
        dates.emplace_back(i, std::move(*problem));
    } else if (const std::string colour = fields.Value(row.Name());
               row.kind == FieldKind::kColour && !NormalColour(colour)) {
      // The builder writes the default colour instead of what is no colour.
      dates.emplace_back(i, "“" + colour + "”不是颜色（应为 #RGB 或 #RRGGBB），页面用默认颜色");
    }
  }
  const std::vector<std::string> reasons = CheckAddresses(addresses, options);

  // In the order of the rows, whichever kind they are.
  std::vector<std::pair<std::size_t, Finding>> found;
  for (std::size_t k = 0; k < addresses.size(); ++k) {
    if (!reasons[k].empty()) found.push_back({address_rows[k], {addresses[k].caption, reasons[k]}});
  }
  for (auto& [row, reason] : dates)
    found.push_back({row, {CaptionOf(style, style.rows[row]), reason}});
  if (options.sample_text) {
    for (const std::size_t row : SampleTextRows(style, fields))
      found.push_back({row, {CaptionOf(style, style.rows[row]), std::string(kSampleTextReason)}});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Finding> findings;
  for (auto& [row, finding] : found) findings.push_back(std::move(finding));
  return findings;
}

std::string_view FindingsHeading(const std::vector<Finding>& findings) {
  for (const Finding& finding : findings)
    if (finding.reason == kSampleTextReason || finding.setting) return kSampleTextHeading;
  return kFindingsHeading;
}

std::vector<Finding> CodeFindings(const wire::PageSettings& settings) {
  const auto finding = [](std::string_view caption, std::string reason, bool blocks) {
    Finding found{std::string(caption), std::move(reason)};
    found.setting = true;
    found.blocks = blocks;
    return std::vector<Finding>{std::move(found)};
  };
  if (!settings.code.empty() && settings.hint.empty())
    return finding(gate::kCodeCaption, "设了口令就要写口令提示，TA才知道该填什么", true);
  if (settings.code.empty() && !settings.hint.empty())
    return finding(gate::kHintCaption, "写了提示却没有设口令，请填写开启口令或清空提示", true);
  wire::PageSettings code_only = settings;
  code_only.opens.clear();
  // Too long or holding a control character: what the boxes keep out, but
  // a draft may bring in.
  if (!wire::PageSettingsProblem(code_only).empty())
    return finding(gate::kCodeCaption,
                   "口令最多 " + std::to_string(wire::kCodeMaxChars) + " 个字、提示最多 " +
                       std::to_string(wire::kHintMaxChars) + " 个字，且不能含控制字符",
                   true);
  if (wire::IsEasyCode(settings.code))
    return finding(gate::kCodeCaption, std::string(gate::kEasyCodeWarning), false);
  return {};
}

std::string FindingLine(const Finding& finding) {
  return finding.caption + "：" + finding.reason;
}

}  // namespace heartpage
