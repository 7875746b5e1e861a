#include "server/site/endpoint/maker.h"

#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <variant>

#include "pages/builders.h"
#include "pages/layout.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "protocol/host.h"
#include "protocol/owner_key.h"
#include "protocol/page_name.h"
#include "protocol/receipts.h"
#include "protocol/statements.h"
#include "protocol/wire.h"
#include "qr/qr_code.h"
#include "server/site/common/gzip.h"
#include "server/site/common/http_util.h"
#include "server/site/common/json.h"
#include "server/site/common/responses.h"
#include "server/site/common/site_pages.h"
#include "server/site/endpoint/endpoint.h"
#include "server/site/endpoint/maker_checks.h"
#include "server/site/files/file_answers.h"
#include "server/site/policy/origin_check.h"
#include "text/gbk.h"

namespace heartpage::server {

namespace http = boost::beast::http;

// What a maker's request said, once read: a refusal, a preview's fields, or
// (in Routed::endpoint) the endpoint's request it stands for.
struct MakerRequest {
  unsigned refusal_status = 0;
  std::string refusal;
  bool preview = false;
  std::string qr_text;  // an address of this site, to be drawn as a QR code
  bool check = false;   // the checks before an upload, of the fields and settings
  wire::PageSettings settings;
  int style = 0;
  FieldMap fields;
  std::string name;  // the page's, in its one spelling
};

namespace {

// ---- The field table as JSON.

void Member(std::string& out, std::string_view name, std::string_view value) {
  AppendJsonString(out, name);
  out += ':';
  AppendJsonString(out, value);
}

// The check box's caption without the dashes that filled its width.
std::string CheckCaption(const WindowLayout& layout) {
  std::string text = layout.check ? layout.check->text : std::string();
  while (!text.empty() && text.back() == '-') text.pop_back();
  return text;
}

// The boxes of `layout` in the order Tab visits them, as the sender reads
// the window.
std::vector<const BoxPlacement*> ReadingOrder(const WindowLayout& layout) {
  std::vector<const BoxPlacement*> boxes;
  if (layout.tab_order.empty()) {
    for (const BoxPlacement& box : layout.boxes) boxes.push_back(&box);
    return boxes;
  }
  for (const int index : layout.tab_order)
    for (const BoxPlacement& box : layout.boxes)
      if (box.index == index) boxes.push_back(&box);
  return boxes;
}

void FieldJson(std::string& out, const FieldRow& row, const BoxPlacement* box,
               const WindowLayout& layout, std::string_view public_host) {
  out += '{';
  Member(out, "name", row.Name());
  out += ',';
  Member(out, "caption", row.caption.empty() ? row.key : row.caption);
  out += ',';
  Member(out, "default", BindHost(row.default_text, ParseHost(public_host)));
  out += ',';
  Member(out, "kind", FieldKindName(row.kind));
  if (box != nullptr && box->multiline) out += ",\"multiline\":true";
  if (box != nullptr &&
      std::ranges::find(layout.two_characters, box->index) != layout.two_characters.end())
    out += ",\"shared_max\":2";
  out += '}';
}

void StyleJson(std::string& out, const Style& style, std::string_view public_host) {
  const WindowLayout& layout = GetLayout(style.number);
  out += "{\"number\":" + std::to_string(style.number) + ',';
  Member(out, "name", GalleryName(style.number));
  out += ',';
  Member(out, "caption", style.caption);
  out += ',';
  Member(out, "artwork",
         std::string(wire::kMakerPath) + "/artwork/style" + std::to_string(style.number) + ".jpg");
  if (style.has_check) {
    out += ',';
    Member(out, "check", CheckCaption(layout));
  }
  // A group is a run of boxes in one frame, named by the frame.
  out += ",\"groups\":[";
  int frame = -2;
  bool first_field = true;
  std::vector<const FieldRow*> placed;
  const auto row_of = [&](int index) -> const FieldRow* {
    for (const FieldRow& row : style.rows)
      if (row.index == index) return &row;
    return nullptr;
  };
  for (const BoxPlacement* box : ReadingOrder(layout)) {
    const FieldRow* row = row_of(box->index);
    if (row == nullptr) continue;
    if (box->frame != frame) {
      if (frame != -2) out += "]},";
      frame = box->frame;
      out += '{';
      Member(out, "caption",
             frame >= 0 ? layout.frames[static_cast<std::size_t>(frame)].caption : "");
      out += ",\"fields\":[";
      first_field = true;
    }
    if (!first_field) out += ',';
    first_field = false;
    FieldJson(out, *row, box, layout, public_host);
    placed.push_back(row);
  }
  // Rows no box shows still belong to the page: they come last.
  for (const FieldRow& row : style.rows) {
    if (std::ranges::find(placed, &row) != placed.end()) continue;
    if (frame == -2) {
      out += "{\"caption\":\"\",\"fields\":[";
      frame = -1;
    } else if (!first_field) {
      out += ',';
    }
    first_field = false;
    FieldJson(out, row, nullptr, layout, public_host);
  }
  if (frame != -2) out += "]}";
  out += "]}";
}

// ---- Reading a request.

using Refusal = std::pair<unsigned, std::string>;

std::optional<Refusal> Unexpected(const JsonObject& body,
                                  std::initializer_list<std::string_view> names) {
  for (const auto& [name, value] : body)
    if (std::ranges::find(names, name) == names.end())
      return Refusal{wire::status::kMalformed, "unexpected member " + name};
  return std::nullopt;
}

template <typename T>
const T* MemberOf(const JsonObject& body, std::string_view name) {
  const auto found = body.find(name);
  return found == body.end() ? nullptr : std::get_if<T>(&found->second.value);
}

// A string member, required or not; a refusal when it is there and no string.
std::variant<std::string, Refusal> Text(const JsonObject& body, std::string_view name,
                                        bool required) {
  const auto found = body.find(name);
  if (found == body.end()) {
    if (required) return Refusal{wire::status::kMalformed, "missing member " + std::string(name)};
    return std::string();
  }
  const auto* text = std::get_if<std::string>(&found->second.value);
  if (text == nullptr)
    return Refusal{wire::status::kMalformed, std::string(name) + " must be a string"};
  return *text;
}

std::variant<std::string, Refusal> OwnerOf(const JsonObject& body) {
  auto key = Text(body, "key", true);
  if (auto* refusal = std::get_if<Refusal>(&key)) return *refusal;
  std::optional<std::string> id = wire::OwnerKeyIdentifier(std::get<std::string>(key));
  if (!id) return Refusal{wire::status::kMalformed, "key must be 32 hexadecimal digits"};
  return ToGbk(*id);
}

// A style and its fields: only the style's own fields and the question's,
// each a string.
std::optional<Refusal> ReadFields(const JsonObject& body, MakerRequest& into) {
  const auto* style = MemberOf<std::int64_t>(body, "style");
  if (style == nullptr || *style < 1 || *style > kStyleCount)
    return Refusal{wire::status::kMalformed, "style must be a number from 1 to 8"};
  into.style = static_cast<int>(*style);
  const Style& table = GetStyle(into.style);
  if (body.contains("fields")) {
    const auto* fields = MemberOf<JsonStrings>(body, "fields");
    if (fields == nullptr) return Refusal{wire::status::kMalformed, "fields must be an object"};
    for (const auto& [name, value] : *fields) {
      const bool question =
          std::ranges::find(QuestionFieldNames(), name) != QuestionFieldNames().end();
      if (!question && FindField(table, name) == nullptr)
        return Refusal{wire::status::kMalformed,
                       "style " + std::to_string(into.style) + " has no field " + name};
      into.fields.values.emplace(name, value);
    }
  }
  if (body.contains("checked")) {
    const auto* checked = MemberOf<bool>(body, "checked");
    if (checked == nullptr) return Refusal{wire::status::kMalformed, "checked must be a boolean"};
    into.fields.checked = *checked;
  }
  return std::nullopt;
}

std::string Gbk(std::string_view utf8) {
  return ToGbk(utf8);
}

// The fields the program would post for each operation, as its bytes.
std::variant<FormFields, Refusal> EndpointFieldsOf(std::string_view operation,
                                                   const JsonObject& body, const Site& site,
                                                   MakerRequest& request) {
  const auto statement = [](int zc, const std::string& sql) {
    return FormFields{{std::string(wire::kOperationField), std::to_string(zc)},
                      {std::string(wire::kStatementField), Gbk(sql)}};
  };
  if (operation == "owned" || operation == "mine") {
    if (auto refusal = Unexpected(body, {"key"})) return *refusal;
    auto owner = OwnerOf(body);
    if (auto* refusal = std::get_if<Refusal>(&owner)) return *refusal;
    return statement(wire::kQuery,
                     wire::OwnershipLookupStatement(FromGbk(std::get<std::string>(owner))));
  }
  auto name = Text(body, "name", true);
  if (auto* refusal = std::get_if<Refusal>(&name)) return *refusal;
  request.name = PageNameKey(std::get<std::string>(name));
  if (operation == "name") {
    if (auto refusal = Unexpected(body, {"name"})) return *refusal;
    return statement(wire::kQuery, wire::NameLookupStatement(request.name));
  }
  auto owner = OwnerOf(body);
  if (auto* refusal = std::get_if<Refusal>(&owner)) return *refusal;
  const std::string& id = std::get<std::string>(owner);
  if (operation == "claim") {
    if (auto refusal = Unexpected(body, {"key", "name"})) return *refusal;
    return statement(wire::kStatement, wire::NameClaimStatement(FromGbk(id), request.name));
  }
  // Her page's answers, its taking down and the name given up: the
  // program's own operations on the name, for her key.
  for (const auto& [member, number] :
       {std::pair{"receipts", wire::kReceipts}, std::pair{"takedown", wire::kTakeDown},
        std::pair{"release", wire::kReleaseName}, std::pair{"fields", wire::kPageFields}}) {
    if (operation != member) continue;
    if (auto refusal = Unexpected(body, {"key", "name"})) return *refusal;
    return FormFields{{std::string(wire::kOperationField), std::to_string(number)},
                      {std::string(wire::kFileField), request.name},
                      {std::string(wire::kMachineIdField), id}};
  }
  // The store: the page is the one the builders make of her fields, never
  // one she sends.
  if (auto refusal =
          Unexpected(body, {"key", "name", "style", "fields", "checked", "opens", "code", "hint"}))
    return *refusal;
  if (auto refusal = ReadFields(body, request)) return *refusal;
  FormFields fields{{std::string(wire::kOperationField), std::to_string(wire::kStorePage)},
                    {std::string(wire::kFileField), request.name},
                    {std::string(wire::kMachineIdField), id}};
  fields.emplace(std::string(wire::kDataField),
                 Gbk(BuildPage(request.style, request.fields, ParseHost(site.public_host))));
  for (const auto& [member, field] :
       {std::pair{"opens", wire::kOpensField}, std::pair{"code", wire::kCodeField},
        std::pair{"hint", wire::kHintField}}) {
    auto value = Text(body, member, false);
    if (auto* refusal = std::get_if<Refusal>(&value)) return *refusal;
    // Left empty is as left out, as the program sends it.
    if (!std::get<std::string>(value).empty())
      fields.emplace(std::string(field), Gbk(std::get<std::string>(value)));
  }
  return fields;
}

std::string_view ContentType(const Request& request) {
  std::string_view type = request[http::field::content_type];
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  return type;
}

// The preview comes from a form posted into its frame, so that the page
// arrives as a document of its own under its own policy: its one field
// "json" holds what a fetch would have sent.
std::optional<std::string> PreviewJson(const Request& request) {
  if (EqualsIgnoringCase(ContentType(request), "application/json")) return request.body();
  if (!EqualsIgnoringCase(ContentType(request), "application/x-www-form-urlencoded"))
    return std::nullopt;
  const std::string_view body = request.body();
  if (!body.starts_with("json=") || body.find('&') != std::string_view::npos) return std::nullopt;
  std::optional<std::string> text = UnescapeFormValue(body.substr(5));
  return text;
}

constexpr std::string_view kOperations[] = {"preview",  "qr",       "check",   "owned",
                                            "name",     "claim",    "store",   "mine",
                                            "receipts", "takedown", "release", "fields"};

// A QR code is of an address on this site only: the site is no encoder for
// whatever a stranger wants printed under its name.
constexpr std::size_t kMaxQrTextBytes = 2048;

Work Refused(Routed& routed, unsigned status, std::string line) {
  auto request = std::make_shared<MakerRequest>();
  request->refusal_status = status;
  request->refusal = std::move(line);
  routed.maker = std::move(request);
  return Work::kAtOnce;
}

// ---- Answering.

StringResponse JsonResponse(const Request& request, unsigned status, std::string body) {
  return TextResponse(request, static_cast<http::status>(status), std::move(body) + "\n",
                      "application/json; charset=utf-8", "no-store");
}

StringResponse JsonRefusal(const Request& request, unsigned status, std::string_view line,
                           std::int64_t retry_after = 0) {
  std::string_view text = line;
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  StringResponse response = JsonResponse(request, status, "{\"error\":" + JsonString(text) + "}");
  if (retry_after > 0) response.set(http::field::retry_after, std::to_string(retry_after));
  return response;
}

// The records of a record set in GBK, each its fields in UTF-8.
std::vector<wire::Record> RecordsIn(std::string_view records_gbk) {
  std::vector<wire::Record> records;
  const std::string text = FromGbk(records_gbk);
  std::size_t at = text.find(wire::kRecordSeparator);
  while (at != std::string::npos) {
    at += wire::kRecordSeparator.size();
    const std::size_t next = text.find(wire::kRecordSeparator, at);
    std::string_view rest = std::string_view(text).substr(
        at, next == std::string::npos ? std::string::npos : next - at);
    wire::Record& record = records.emplace_back();
    for (std::size_t end; (end = rest.find(wire::kFieldSeparator)) != std::string_view::npos;) {
      record.emplace_back(rest.substr(0, end));
      rest.remove_prefix(end + wire::kFieldSeparator.size());
    }
    at = next;
  }
  return records;
}

// What came back from a page, as the program reads it, in JSON.
void ReceiptJson(std::string& out, const wire::Receipt& receipt, bool online) {
  out += '{';
  Member(out, "question", receipt.question);
  out += ",\"choices\":[";
  AppendJsonString(out, receipt.choices[0]);
  out += ',';
  AppendJsonString(out, receipt.choices[1]);
  out += "],\"opened\":" + std::to_string(receipt.opened) + ',';
  Member(out, "first_opened", receipt.first_opened);
  out += ',';
  Member(out, "last_opened", receipt.last_opened);
  out += ",\"answers\":[";
  for (std::size_t i = 0; i < receipt.answers.size(); ++i) {
    const wire::ReceiptAnswer& answer = receipt.answers[i];
    if (i > 0) out += ',';
    out += "{\"choice\":" + std::to_string(answer.choice) + ',';
    Member(out, "text", answer.text);
    out += ',';
    Member(out, "time", answer.time);
    out += '}';
  }
  out += ']';
  if (online) {
    out += ",\"earlier\":[";
    for (std::size_t i = 0; i < receipt.earlier.size(); ++i) {
      if (i > 0) out += ',';
      ReceiptJson(out, receipt.earlier[i], false);
    }
    out += "],";
    Member(out, "opens", receipt.opens);
    out += receipt.has_code ? ",\"has_code\":true," : ",\"has_code\":false,";
    Member(out, "hint", receipt.hint);
  } else {
    out += ',';
    Member(out, "replaced", receipt.replaced);
  }
  out += '}';
}

// The names of a record set's records' second fields: what a key owns.
std::vector<std::string> NamesIn(std::string_view records_gbk) {
  std::vector<std::string> names;
  const std::string text = FromGbk(records_gbk);
  std::size_t at = 0;
  while ((at = text.find(wire::kRecordSeparator, at)) != std::string::npos) {
    at += wire::kRecordSeparator.size();
    const std::size_t first = text.find(wire::kFieldSeparator, at);
    if (first == std::string::npos) break;
    const std::size_t second =
        text.find(wire::kFieldSeparator, first + wire::kFieldSeparator.size());
    if (second == std::string::npos) break;
    const std::size_t from = first + wire::kFieldSeparator.size();
    names.push_back(text.substr(from, second - from));
    at = second;
  }
  return names;
}

// The modules as rows of '1' (dark) and '0', without the quiet zone: the
// maker draws them as it needs them, on the page or on the poster's canvas.
Response QrAnswer(const Request& request, const MakerRequest& maker) {
  const std::optional<QrCode> code = QrCode::Encode(maker.qr_text);
  if (!code) return JsonRefusal(request, wire::status::kTooLarge, "too long for a QR code");
  std::string out = "{\"size\":" + std::to_string(code->size()) + ",\"rows\":[";
  for (int y = 0; y < code->size(); ++y) {
    if (y > 0) out += ',';
    out += '"';
    for (int x = 0; x < code->size(); ++x) out += code->dark(x, y) ? '1' : '0';
    out += '"';
  }
  return JsonResponse(request, 200, out + "]}");
}

Response Preview(const Request& request, const MakerRequest& maker, const Site& site) {
  std::string page = Gbk(BuildPage(maker.style, maker.fields, ParseHost(site.public_host)));
  StringResponse response = TextResponse(request, http::status::ok, std::move(page),
                                         "text/html; charset=gbk", "no-store");
  // Shown in the maker's frame, in an origin of its own: it can never read
  // what the maker keeps.
  response.set("Content-Security-Policy", PageSecurityPolicy(site.public_host, "'self'"));
  response.set("Referrer-Policy", "no-referrer");
  return response;
}

}  // namespace

std::string StylesJson(std::string_view public_host) {
  std::string out = "{\"styles\":[";
  for (int number = 1; number <= kStyleCount; ++number) {
    if (number > 1) out += ',';
    StyleJson(out, GetStyle(number), public_host);
  }
  out += "],\"question\":[";
  const std::vector<FieldRow>& rows = QuestionRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) out += ',';
    out += '{';
    Member(out, "name", QuestionFieldNames()[i]);
    out += ',';
    // The question's rows are captioned by what the page shows in their
    // place.
    Member(out, "caption", rows[i].key);
    out += ',';
    Member(out, "default", question::kDefaults[i].value);
    out += ",\"max\":" +
           std::to_string(i == 0 ? question::kMaxQuestionLength : question::kMaxAnswerLength);
    out += '}';
  }
  out += "]}";
  return out;
}

Response AnswerStyles(const Request& request, const Site& site) {
  // Built once for the site's host: the table never changes while it runs.
  // It is most of what the maker loads before her first tap: compressed
  // then too.
  struct Built {
    std::string json;
    std::string gzip;
  };
  static std::mutex mutex;
  static std::map<std::string, Built, std::less<>> built;
  const bool accepts = AcceptsGzip(request[http::field::accept_encoding]);
  std::string body;
  bool compressed = false;
  {
    const std::lock_guard lock(mutex);
    auto found = built.find(site.public_host);
    if (found == built.end()) {
      std::string json = StylesJson(site.public_host);
      std::string gzip = GzipIfWorthIt(json);
      found = built.emplace(site.public_host, Built{std::move(json), std::move(gzip)}).first;
    }
    compressed = accepts && !found->second.gzip.empty();
    body = compressed ? found->second.gzip : found->second.json;
  }
  StringResponse response = TextResponse(request, http::status::ok, std::move(body),
                                         "application/json; charset=utf-8", "no-cache");
  response.set(http::field::vary, "Accept-Encoding");
  if (compressed) response.set(http::field::content_encoding, "gzip");
  return response;
}

Work MakerLane(const Request& request, std::string_view operation, const Site& site,
               Routed& routed) {
  const auto known = std::ranges::find(kOperations, operation);
  if (known == std::end(kOperations))
    return Refused(routed, wire::status::kUnknown, "no such operation");
  routed.operation = *known == "preview" ? "maker preview"
                     : *known == "qr"    ? "maker qr"
                     : *known == "check" ? "maker check"
                                         : "maker";
  // Another site's page could otherwise act for its visitors' keys, or make
  // them preview what it likes under this site's name.
  if (!PostedByThisSite(request, site.public_host))
    return Refused(routed, wire::status::kNotYours, "taken only from the site's own maker");
  if (request.body().size() > kMaxMakerBodyBytes)
    return Refused(routed, wire::status::kTooLarge, "body too large");
  std::optional<std::string> text;
  if (*known == "preview")
    text = PreviewJson(request);
  else if (EqualsIgnoringCase(ContentType(request), "application/json"))
    text = request.body();
  if (!text) return Refused(routed, wire::status::kWrongType, "sent as application/json");
  auto parsed = ReadJsonObject(*text);
  if (auto* error = std::get_if<JsonError>(&parsed))
    return Refused(routed, wire::status::kMalformed, std::move(error->message));
  const JsonObject& body = std::get<JsonObject>(parsed);
  auto maker = std::make_shared<MakerRequest>();
  if (*known == "preview") {
    if (auto refusal = Unexpected(body, {"style", "fields", "checked"}))
      return Refused(routed, refusal->first, std::move(refusal->second));
    if (auto refusal = ReadFields(body, *maker))
      return Refused(routed, refusal->first, std::move(refusal->second));
    maker->preview = true;
    routed.maker = std::move(maker);
    return Work::kPreview;
  }
  if (*known == "check") {
    if (auto refusal = Unexpected(body, {"style", "fields", "checked", "code", "hint"}))
      return Refused(routed, refusal->first, std::move(refusal->second));
    if (auto refusal = ReadFields(body, *maker))
      return Refused(routed, refusal->first, std::move(refusal->second));
    for (auto [member, into] :
         {std::pair{"code", &maker->settings.code}, std::pair{"hint", &maker->settings.hint}}) {
      auto value = Text(body, member, false);
      if (auto* refusal = std::get_if<Refusal>(&value))
        return Refused(routed, refusal->first, std::move(refusal->second));
      *into = std::move(std::get<std::string>(value));
    }
    maker->check = true;
    routed.maker = std::move(maker);
    // Counted with the previews, which it goes with.
    return Work::kPreview;
  }
  if (*known == "qr") {
    if (auto refusal = Unexpected(body, {"text"}))
      return Refused(routed, refusal->first, std::move(refusal->second));
    auto given = Text(body, "text", true);
    if (auto* refusal = std::get_if<Refusal>(&given))
      return Refused(routed, refusal->first, std::move(refusal->second));
    std::string& address = std::get<std::string>(given);
    if (address.size() > kMaxQrTextBytes)
      return Refused(routed, wire::status::kTooLarge, "text too long");
    if (!address.starts_with(PublicOrigin(site.public_host) + "/"))
      return Refused(routed, wire::status::kMalformed, "only an address on this site");
    maker->qr_text = std::move(address);
    routed.maker = std::move(maker);
    // Counted with the previews: it is work on the site's threads that a
    // client may ask for as often as it likes.
    return Work::kPreview;
  }
  auto fields = EndpointFieldsOf(*known, body, site, *maker);
  if (auto* refusal = std::get_if<Refusal>(&fields))
    return Refused(routed, refusal->first, std::move(refusal->second));
  routed.endpoint = ReadEndpointFields(std::get<FormFields>(std::move(fields)));
  routed.operation = routed.endpoint->name;
  // A store that sets a code hashes it where the endpoint's stores do.
  routed.hashes_code = SetsCode(*routed.endpoint);
  routed.maker = std::move(maker);
  return routed.endpoint->work;
}

namespace {

// Each name an identifier owns with its address, when it was claimed and
// when its page was last stored: none while it has no page online.
std::string MineJson(std::string_view records, std::string_view public_host) {
  std::string out = "{\"pages\":[";
  bool first = true;
  for (const wire::Record& record : RecordsIn(records)) {
    if (record.size() < 4) continue;
    if (!first) out += ',';
    first = false;
    out += '{';
    Member(out, "name", record[1]);
    out += ',';
    Member(out, "address", PublicOrigin(public_host) + std::string(wire::kPagePrefix) + record[1]);
    out += ',';
    Member(out, "claimed", record[2]);
    out += ',';
    Member(out, "stored", record[3]);
    out += '}';
  }
  return out + "]}";
}

// Record 1 the style; a record per field, name and value; last the
// settings: moment, whether a code is set, hint.
Response FieldsAnswer(const Request& request, std::string_view records_text) {
  const std::vector<wire::Record> records = RecordsIn(records_text);
  if (records.empty() || records[0].empty())
    return JsonRefusal(request, 500, "no fields in the answer");
  std::string out = "{\"style\":" + records[0][0] + ",\"fields\":{";
  std::string settings = ",\"opens\":\"\",\"has_code\":false,\"hint\":\"\"";
  bool first = true;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const wire::Record& record = records[i];
    if (record.size() == 4 && record[0] == "settings") {
      settings = ',';
      Member(settings, "opens", record[1]);
      settings += record[2] == "1" ? ",\"has_code\":true," : ",\"has_code\":false,";
      Member(settings, "hint", record[3]);
      continue;
    }
    if (record.size() != 2) continue;
    if (!first) out += ',';
    first = false;
    Member(out, record[0], record[1]);
  }
  return JsonResponse(request, 200, out + "}" + settings + "}");
}

}  // namespace

Response AnswerMaker(const Request& request, std::string_view operation, const Site& site,
                     const Routed& routed, Audit* audit) {
  if (!routed.maker) return JsonRefusal(request, wire::status::kUnknown, "no such operation");
  const MakerRequest& maker = *routed.maker;
  if (maker.refusal_status != 0) {
    if (audit != nullptr) audit->operation = routed.operation;
    return JsonRefusal(request, maker.refusal_status, maker.refusal);
  }
  if (maker.preview) {
    if (audit != nullptr) audit->operation = routed.operation;
    return Preview(request, maker, site);
  }
  if (maker.check) {
    if (audit != nullptr) audit->operation = routed.operation;
    try {
      return JsonResponse(request, 200,
                          CheckFindingsJson(maker.style, maker.fields, maker.settings,
                                            site.storage.media, site.public_host));
    } catch (const std::exception& error) {
      return StorageFailure(request, error, audit);
    }
  }
  if (!maker.qr_text.empty()) {
    if (audit != nullptr) audit->operation = routed.operation;
    return QrAnswer(request, maker);
  }
  EndpointReply reply = HandleEndpoint(site.storage, *routed.endpoint, site.public_host, audit);
  if (reply.status != wire::status::kOk)
    return JsonRefusal(request, reply.status, reply.body, reply.retry_after);
  if (operation == "owned") {
    std::string out = "{\"names\":[";
    bool first = true;
    for (const std::string& name : NamesIn(reply.body)) {
      if (!first) out += ',';
      first = false;
      AppendJsonString(out, name);
    }
    return JsonResponse(request, 200, out + "]}");
  }
  if (operation == "mine")
    return JsonResponse(request, 200, MineJson(reply.body, site.public_host));
  if (operation == "receipts") {
    const std::optional<wire::Receipt> receipt = wire::ReceiptIn(FromGbk(reply.body));
    if (!receipt) return JsonRefusal(request, 500, "no receipt in the answer");
    std::string out;
    ReceiptJson(out, *receipt, true);
    return JsonResponse(request, 200, out);
  }
  if (operation == "fields") return FieldsAnswer(request, reply.body);
  if (operation == "takedown") return JsonResponse(request, 200, "{\"taken_down\":true}");
  if (operation == "release") return JsonResponse(request, 200, "{\"released\":true}");
  if (operation == "name")
    return JsonResponse(request, 200,
                        NamesIn(reply.body).empty() ? "{\"taken\":false}" : "{\"taken\":true}");
  if (operation == "claim") return JsonResponse(request, 200, "{\"claimed\":true}");
  return JsonResponse(
      request, 200,
      "{\"address\":" +
          JsonString(PublicOrigin(site.public_host) + std::string(wire::kPagePrefix) + maker.name) +
          "}");
}

}  // namespace heartpage::server
