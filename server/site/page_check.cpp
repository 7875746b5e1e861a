#include "server/site/page_check.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "pages/builders.h"
#include "pages/placement.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "server/site/page_slots.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

struct SlotRef {
  std::size_t row = 0;  // index into the style's rows
  SlotKind kind;
};

// A style's template cut at its placeholders as the builder replaces them,
// row by row and never inside an earlier row's value: literals[i] stands
// before slots[i], and the last literal ends the page. A page that asks its
// question has the question's rows after the style's.
struct Skeleton {
  int style = 0;
  bool floating = false;
  bool asking = false;
  std::string page_template;
  std::string floating_template;
  std::vector<FieldRow> rows;
  std::vector<std::string> names;  // the field each row is read from
  std::vector<std::string> literals;
  std::vector<SlotRef> slots;
};

constexpr int kTemplateText = -1;
constexpr int kQuestionText = -2;  // the question part's own text

struct Piece {
  std::size_t start = 0;
  std::size_t end = 0;
  int row = kTemplateText;  // or the row whose key stands here
};

Skeleton MakeSkeleton(int number, bool floating, bool asking, const std::string& page_template,
                      const std::string& floating_template) {
  const Style& style = GetStyle(number);
  Skeleton skeleton{number, floating, asking, page_template, floating_template, style.rows,
                    {},     {},       {}};
  for (const FieldRow& row : style.rows) skeleton.names.push_back(row.Name());
  std::string text = page_template;
  if (floating) {
    const std::size_t end = text.rfind("</body>");
    text.insert(end == std::string::npos ? text.size() : end, floating_template);
  }
  std::vector<Piece> pieces = {{0, text.size(), kTemplateText}};
  // The builder fills the question apart from the style's keys, and adds it
  // before the end of the body, which no value written can hold.
  if (asking) {
    const std::size_t at = QuestionPartAt(text);
    const std::string_view part = QuestionTemplate(number);
    text.insert(at, part);
    pieces = {{0, at, kTemplateText},
              {at, at + part.size(), kQuestionText},
              {at + part.size(), text.size(), kTemplateText}};
    skeleton.rows.insert(skeleton.rows.end(), QuestionRows().begin(), QuestionRows().end());
    skeleton.names.insert(skeleton.names.end(), QuestionFieldNames().begin(),
                          QuestionFieldNames().end());
  }
  for (std::size_t r = 0; r < skeleton.rows.size(); ++r) {
    const std::string_view key = skeleton.rows[r].key;
    const int own_text = r < style.rows.size() ? kTemplateText : kQuestionText;
    std::vector<Piece> next;
    for (const Piece& piece : pieces) {
      if (piece.row != own_text) {
        next.push_back(piece);
        continue;
      }
      const std::string_view literal(text.data() + piece.start, piece.end - piece.start);
      std::size_t pos = 0;
      for (std::size_t hit = literal.find(key); hit != std::string_view::npos;
           hit = literal.find(key, pos)) {
        next.push_back({piece.start + pos, piece.start + hit, own_text});
        next.push_back({piece.start + hit, piece.start + hit + key.size(), static_cast<int>(r)});
        pos = hit + key.size();
      }
      next.push_back({piece.start + pos, piece.end, own_text});
    }
    pieces = std::move(next);
  }
  PageScanner scanner(text);
  skeleton.literals.emplace_back();
  for (const Piece& piece : pieces) {
    if (piece.row < 0) {
      skeleton.literals.back().append(text, piece.start, piece.end - piece.start);
      continue;
    }
    const auto row = static_cast<std::size_t>(piece.row);
    const Placement place = scanner.At(piece.start);
    skeleton.slots.push_back(
        {row, {place, skeleton.rows[row].kind == FieldKind::kMarkup && place.slot == Slot::kText}});
    skeleton.literals.emplace_back();
  }
  return skeleton;
}

using Skeletons = std::vector<Skeleton>;

// Every style, with and without the floating picture where it has one, bound
// to `public_host`; made once per host and shared.
std::shared_ptr<const Skeletons> SkeletonsFor(std::string_view public_host) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const Skeletons>, std::less<>> made;
  const std::lock_guard lock(mutex);
  if (const auto it = made.find(public_host); it != made.end()) return it->second;
  const HostAddress host = ParseHost(public_host);
  auto skeletons = std::make_shared<Skeletons>();
  const std::string floating = BindHost(UnboundTemplate(0), host);
  for (int number = 1; number <= kStyleCount; ++number) {
    const std::string bound = BindHost(UnboundTemplate(number), host);
    for (const bool asking : {false, true}) {
      skeletons->push_back(MakeSkeleton(number, false, asking, bound, floating));
      if (GetStyle(number).has_check)
        skeletons->push_back(MakeSkeleton(number, true, asking, bound, floating));
    }
  }
  // A server has one address; tests start many.
  if (made.size() >= 8) made.clear();
  made.emplace(std::string(public_host), skeletons);
  return skeletons;
}

constexpr int kMaxSplits = 4;

// Reads the values out of a page laid over a skeleton, trying the shortest
// reading of each slot first and going back when a later part disagrees.
// Every byte it looks at counts against a budget, so that no page, however
// made, keeps a worker busy for long.
class Reading {
 public:
  Reading(const Skeleton& skeleton, std::string_view page)
      : skeleton_(skeleton),
        rows_(skeleton.rows),
        page_(page),
        values_(rows_.size()),
        seen_(rows_.size()),
        budget_(page.size() * 4 + (1u << 18)) {}

  bool Run() {
    const std::string& first = skeleton_.literals.front();
    if (!page_.starts_with(first)) return Fail(Mismatch(0, first), "");
    return From(0, first.size());
  }

  std::size_t furthest() const { return furthest_; }
  const std::string& why() const { return why_; }
  const std::vector<std::optional<std::string>>& values() const { return values_; }

 private:
  // Where the page leaves `literal`, which should stand at `at`.
  std::size_t Mismatch(std::size_t at, std::string_view literal) const {
    std::size_t i = 0;
    while (i < literal.size() && at + i < page_.size() && page_[at + i] == literal[i]) ++i;
    return at + i;
  }

  bool Fail(std::size_t at, std::string why) {
    if (at > furthest_ || (at == furthest_ && why_.empty())) {
      furthest_ = at;
      why_ = std::move(why);
    }
    return false;
  }

  bool Spend(std::size_t bytes) {
    spent_ += bytes;
    return spent_ <= budget_;
  }

  bool From(std::size_t k, std::size_t pos) {
    if (k == skeleton_.slots.size())
      return pos == page_.size() || Fail(pos, "the page goes on after its end");
    const SlotRef& slot = skeleton_.slots[k];
    const FieldRow& row = rows_[slot.row];
    const std::string& next = skeleton_.literals[k + 1];
    if (const std::optional<std::string>& value = values_[slot.row]) {
      const std::string written = WrittenValue(row, *value, slot.kind.place);
      if (!Spend(written.size() + next.size())) return false;
      const std::size_t end = pos + written.size();
      if (page_.compare(pos, written.size(), written) == 0 &&
          page_.compare(end, next.size(), next) == 0 && Take(k, pos, end, *value))
        return true;
      if (spent_ > budget_) return false;
      // Read only where it is written alike, another reading would be
      // written here alike too: nothing else to try.
      if (std::all_of(seen_[slot.row].begin(), seen_[slot.row].end(),
                      [&](const auto& seen) { return seen.first == slot.kind.place; }))
        return Fail(pos, "field " + row.Name() + " differs where it stands again");
    }
    // Unread so far, or read where its writing loses something (a number's
    // spaces in a script, a line end in a comment): whatever is read here
    // must also give what the field's earlier places hold.
    const std::size_t limit = SlotExtent(page_, pos, slot.kind);
    if (!Spend(limit - pos)) return Fail(pos, "too costly to read");
    const std::string_view reach = page_.substr(0, std::min(page_.size(), limit + next.size()));
    // Two fields side by side (style 5's two halves of a name) read alike
    // however the text between them is split: a few splits are enough, and
    // trying every one would cost the square of a long value.
    int splits = 0;
    for (std::size_t end = pos; end <= limit; ++end) {
      if (!next.empty()) {
        end = reach.find(next, end);
        if (end == std::string_view::npos || end > limit) break;
      } else if (end < page_.size() && (static_cast<unsigned char>(page_[end]) & 0xC0) == 0x80) {
        continue;
      } else if (++splits > kMaxSplits) {
        break;
      }
      if (!Spend(2 * (end - pos) + next.size() + 1)) return Fail(pos, "too costly to read");
      const std::string_view written = page_.substr(pos, end - pos);
      std::optional<std::string> read = ReadSlot(written, slot.kind);
      if (!read) continue;
      std::string meant = MeantValue(row, std::move(*read));
      if (WrittenValue(row, meant, slot.kind.place) != written) {
        if (slot.kind.markup)
          Fail(pos, "field " + skeleton_.names[slot.row] +
                        " holds markup beyond the few formatting tags kept");
        continue;
      }
      if (!AgreesWithEarlier(slot.row, meant)) continue;
      if (Take(k, pos, end, std::move(meant))) return true;
      if (spent_ > budget_) return false;
    }
    return Fail(slot.kind.markup ? pos : Mismatch(limit, next), "");
  }

  // Reads slot k as `value`, written from `pos` to `end`, and goes on.
  bool Take(std::size_t k, std::size_t pos, std::size_t end, std::string value) {
    const SlotRef& slot = skeleton_.slots[k];
    std::optional<std::string> before = std::move(values_[slot.row]);
    values_[slot.row] = std::move(value);
    seen_[slot.row].push_back({slot.kind.place, page_.substr(pos, end - pos)});
    if (From(k + 1, end + skeleton_.literals[k + 1].size())) return true;
    seen_[slot.row].pop_back();
    values_[slot.row] = std::move(before);
    return false;
  }

  bool AgreesWithEarlier(std::size_t row, const std::string& value) {
    for (const auto& [place, written] : seen_[row]) {
      if (!Spend(written.size())) return false;
      if (WrittenValue(rows_[row], value, place) != written) return false;
    }
    return true;
  }

  const Skeleton& skeleton_;
  const std::vector<FieldRow>& rows_;
  std::string_view page_;
  std::vector<std::optional<std::string>> values_;
  // Where each field was read so far: its place and what stands there.
  std::vector<std::vector<std::pair<Placement, std::string_view>>> seen_;
  std::size_t budget_;
  std::size_t spent_ = 0;
  std::size_t furthest_ = 0;
  std::string why_;
};

class ReadFields : public FieldSource {
 public:
  ReadFields(const std::vector<std::string>& names,
             const std::vector<std::optional<std::string>>& values, bool checked)
      : names_(names), values_(values), checked_(checked) {}
  std::string Value(std::string_view field) const override {
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == field) return values_[i].value_or(std::string());
    return {};
  }
  bool Checked() const override { return checked_; }

 private:
  const std::vector<std::string>& names_;
  const std::vector<std::optional<std::string>>& values_;
  bool checked_;
};

// Every style starts alike up to its title: a page that leaves them before
// is none of them.
constexpr std::size_t kSharedStart = 64;

// A few bytes of the page from `at`, safe to quote on one line.
std::string Near(std::string_view page, std::size_t at) {
  std::size_t end = std::min(page.size(), at + 40);
  while (end < page.size() && end > at && (static_cast<unsigned char>(page[end]) & 0xC0) == 0x80)
    --end;
  std::string quoted;
  for (const char c : page.substr(at, end - at))
    quoted += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  return quoted;
}

}  // namespace

PageCheck CheckPage(std::string_view html, std::string_view public_host) {
  const std::shared_ptr<const Skeletons> skeletons = SkeletonsFor(public_host);
  // A page is read against the skeletons that ask a question first when it
  // seems to, and last otherwise: a genuine page then takes one reading.
  const bool seems_asking = html.find(QuestionTemplate(1).substr(0, 12)) != std::string_view::npos;
  std::vector<const Skeleton*> order;
  for (const bool asking : {seems_asking, !seems_asking})
    for (const Skeleton& skeleton : *skeletons)
      if (skeleton.asking == asking) order.push_back(&skeleton);
  const Skeleton* best = nullptr;
  std::size_t furthest = 0;
  std::string why;
  for (const Skeleton* candidate : order) {
    const Skeleton& skeleton = *candidate;
    Reading reading(skeleton, html);
    if (reading.Run()) {
      const Style& style = GetStyle(skeleton.style);
      const ReadFields fields(skeleton.names, reading.values(), skeleton.floating);
      if (BuildPage(skeleton.style, fields, skeleton.page_template, skeleton.floating_template) !=
          html)
        continue;
      PageCheck check{true, {}, skeleton.style, {}};
      for (std::size_t i = 0; i < style.rows.size(); ++i) {
        const std::string value = reading.values()[i].value_or(std::string());
        check.values.push_back(style.rows[i].kind == FieldKind::kMarkup ? ShownText(value) : value);
      }
      if (const std::optional<AskedQuestion> asked = QuestionOf(fields)) {
        check.question = asked->question;
        check.answers = {asked->answer1, asked->answer2};
      }
      return check;
    }
    if (best == nullptr || reading.furthest() > furthest) {
      best = &skeleton;
      furthest = reading.furthest();
      why = reading.why();
    }
  }
  PageCheck check;
  const std::string origin =
      ParseHost(public_host).scheme + "://" + ParseHost(public_host).authority;
  if (html.find("/biaobai/") != std::string_view::npos &&
      html.find(origin + "/biaobai/") == std::string_view::npos)
    check.refusal = "page names another publishing host than " + origin;
  else if (best == nullptr || furthest < kSharedStart)
    check.refusal = "page is not one of the eight styles";
  else if (!why.empty())
    check.refusal = "page of style " + std::to_string(best->style) + ": " + why;
  else
    check.refusal = "page differs from style " + std::to_string(best->style) + " at byte " +
                    std::to_string(furthest) + ": \"" + Near(html, furthest) + "\"";
  return check;
}

PageCheck CheckSentPage(std::string_view bytes, std::string_view public_host) {
  std::string text = FromGbk(bytes);
  if (ToGbk(text) != bytes) return {false, "page is not GBK text", 0, {}};
  return CheckPage(text, public_host);
}

}  // namespace heartpage::server
