#include "server/site/policy/page_check.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "pages/builders.h"
#include "pages/link_card.h"
#include "pages/page_plan.h"
#include "pages/placement.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "server/site/policy/page_slots.h"
#include "text/gbk.h"
#include "text/utf8.h"

namespace heartpage::server {
namespace {

SlotKind KindOf(const PageLayout& layout, std::size_t k) {
  const PlanSlot& slot = layout.slot(k);
  return {slot.place,
          layout.rows()[slot.row].kind == FieldKind::kMarkup && slot.place.slot == Slot::kText};
}

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

constexpr int kMaxSplits = 4;

// Reads the values out of a page laid over a layout of its style, trying the shortest
// reading of each slot first and going back when a later part disagrees.
// Every byte it looks at counts against a budget, so that no page, however
// made, keeps a worker busy for long.
class Reading : public SeenWriting {
 public:
  Reading(const StylePlan& plan, const PageLayout& layout, std::string_view page)
      : plan_(plan),
        layout_(layout),
        rows_(layout.rows()),
        page_(page),
        values_(rows_.size()),
        card_lines_(rows_.size()),
        seen_(rows_.size()),
        budget_(page.size() * 4 + (1u << 18)) {
    const Style& style = GetStyle(layout.style());
    own_ = style.rows.size();
    const FieldRow* title = &TitleRow(style);
    for (std::size_t r = 0; r < own_; ++r)
      if (rows_[r].kind == FieldKind::kText && &style.rows[r] != title &&
          layout.may_give_card_line(r))
        text_rows_.push_back(r);
    std::stable_sort(text_rows_.begin(), text_rows_.end(),
                     [&](std::size_t a, std::size_t b) { return rows_[a].index < rows_[b].index; });
    for (std::size_t k = 0; k < layout.slot_count(); ++k) {
      const std::size_t r = layout.slot(k).row;
      if (r < own_ && rows_[r].kind == FieldKind::kPicture &&
          (picture_ == kNone || rows_[r].index < rows_[picture_].index))
        picture_ = r;
    }
  }

  bool Run() {
    const std::string_view first = layout_.literal(0);
    if (!page_.starts_with(first)) return Fail(Mismatch(0, first), "");
    return From(0, first.size());
  }

  // What the reading holds the row's value written as at `place`: each place
  // read is written so from the row's present value.
  std::optional<std::string_view> Find(std::size_t row, const std::string& meant,
                                       const Placement& place) const override {
    if (row >= values_.size() || !values_[row] || *values_[row] != meant) return std::nullopt;
    for (const auto& [where, written] : seen_[row])
      if (where == place) return written;
    return std::nullopt;
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
    if (k == layout_.slot_count()) {
      if (pos != page_.size()) return Fail(pos, "the page goes on after its end");
      // Values read alike in more than one way (two fields side by side)
      // give the same page only where the link card agrees too.
      if (!Spend(page_.size())) return Fail(pos, "too costly to read");
      const ReadFields fields(layout_.names(), values_, layout_.floating());
      // Every value stands where it was read as the build writes it: the
      // build takes those writings rather than making them again.
      if (plan_.Builds(fields, page_, this)) return true;
      const std::string again = plan_.Build(fields);
      std::size_t at = 0;
      while (at < again.size() && at < page_.size() && again[at] == page_[at]) ++at;
      return Fail(at, "");
    }
    const PlanSlot& plan_slot = layout_.slot(k);
    const struct {
      std::size_t row;
      SlotKind kind;
    } slot{plan_slot.row, KindOf(layout_, k)};
    const FieldRow& row = rows_[slot.row];
    const std::string_view next = layout_.literal(k + 1);
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
        return Fail(pos, "field " + FieldName(slot.row) + " differs where it stands again");
    }
    // Unread so far, or read where its writing loses something (a number's
    // spaces in a script, a line end in a comment): whatever is read here
    // must also give what the field's earlier places hold.
    const std::size_t limit = SlotExtent(page_, pos, slot.kind);
    if (!Spend(limit - pos)) return Fail(pos, "too costly to read");
    const std::string_view reach = page_.substr(0, std::min(page_.size(), limit + next.size()));
    // Two fields side by side (style 5's two halves of a name) read alike
    // however the text between them is split, and neither gives the card
    // its line: a few splits are enough, and trying every one would cost the
    // square of a long value.
    for (std::size_t end = pos, splits = 0; end <= limit; ++end) {
      if (!next.empty()) {
        end = reach.find(next, end);
        if (end == std::string_view::npos || end > limit) break;
      } else if (end < page_.size() && IsUtf8Continuation(page_[end])) {
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
          Fail(pos, "field " + FieldName(slot.row) +
                        " holds markup beyond the few formatting tags kept");
        continue;
      }
      if (!PictureAgrees(slot.row, meant)) continue;
      if (!AgreesWithEarlier(slot.row, meant)) continue;
      if (Take(k, pos, end, std::move(meant))) return true;
      if (spent_ > budget_) return false;
    }
    return Fail(slot.kind.markup ? pos : Mismatch(limit, next), "");
  }

  // Reads slot k as `value`, written from `pos` to `end`, and goes on.
  bool Take(std::size_t k, std::size_t pos, std::size_t end, std::string value) {
    const PlanSlot& slot = layout_.slot(k);
    std::optional<std::string> before = std::move(values_[slot.row]);
    std::string line_before = std::move(card_lines_[slot.row]);
    values_[slot.row] = std::move(value);
    seen_[slot.row].push_back({slot.place, page_.substr(pos, end - pos)});
    const bool text_row =
        std::find(text_rows_.begin(), text_rows_.end(), slot.row) != text_rows_.end();
    // Read once per value taken, not once per row each time any is.
    if (text_row) card_lines_[slot.row] = CardLineOf(*values_[slot.row]);
    const bool tells_card = text_row || slot.row == own_ + 1;
    if ((!tells_card || CardLineAgrees()) && From(k + 1, end + layout_.literal(k + 1).size()))
      return true;
    seen_[slot.row].pop_back();
    values_[slot.row] = std::move(before);
    card_lines_[slot.row] = std::move(line_before);
    return false;
  }

  // The card's picture is told by the first picture the page shows: a page
  // whose card and picture disagree is refused where the second of them
  // stands, rather than after every split of the fields between them was
  // tried, which on a long style costs far past the budget.
  bool PictureAgrees(std::size_t row, const std::string& value) const {
    const std::size_t card = own_ + 2;
    if (row == card) {
      if (picture_ != kNone && values_[picture_])
        return value == plan_.CardPicture(*values_[picture_]);
      const std::string& artwork = plan_.CardPicture({});
      return value == artwork || (picture_ != kNone && plan_.CardPicture(value) == value);
    }
    if (row == picture_ && values_[card]) return plan_.CardPicture(value) == *values_[card];
    return true;
  }

  bool AgreesWithEarlier(std::size_t row, const std::string& value) {
    for (const auto& [place, written] : seen_[row]) {
      if (!Spend(written.size())) return false;
      if (WrittenValue(rows_[row], value, place) != written) return false;
    }
    return true;
  }

  // The field a row is read from, or what the link card's rows tell of.
  std::string FieldName(std::size_t row) const {
    const std::string& name = layout_.names()[row];
    return name.empty() ? "link card " + rows_[row].key : name;
  }

  // Whether the card's line, once read, is the first line of the fields read
  // so far: where a field's value holds what stands after it, it tells
  // where the value ends.
  bool CardLineAgrees() const {
    const std::optional<std::string>& card = values_[own_ + 1];
    if (!card) return true;
    for (const std::size_t r : text_rows_) {
      if (!values_[r]) return true;
      const std::string& line = card_lines_[r];
      if (!line.empty()) return line == *card;
    }
    return card->empty();
  }

  const StylePlan& plan_;
  const PageLayout& layout_;
  std::size_t own_ = 0;
  // The fields that may give the card's line, in the editor's order.
  std::vector<std::size_t> text_rows_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t picture_ = kNone;  // the row of the first picture the page shows
  const std::vector<FieldRow>& rows_;
  std::string_view page_;
  std::vector<std::optional<std::string>> values_;
  std::vector<std::string> card_lines_;  // of the text rows' values read so far
  // Where each field was read so far: its place and what stands there.
  std::vector<std::vector<std::pair<Placement, std::string_view>>> seen_;
  std::size_t budget_;
  std::size_t spent_ = 0;
  std::size_t furthest_ = 0;
  std::string why_;
};

// Every style starts alike up to its title: a page that leaves them before
// is none of them.
constexpr std::size_t kSharedStart = 64;

// A few bytes of the page from `at`, safe to quote on one line.
std::string Near(std::string_view page, std::size_t at) {
  std::size_t end = std::min(page.size(), at + 40);
  while (end < page.size() && end > at && IsUtf8Continuation(page[end])) --end;
  std::string quoted;
  for (const char c : page.substr(at, end - at))
    quoted += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  return quoted;
}

}  // namespace

PageCheck CheckPage(std::string_view html, std::string_view public_host) {
  const std::shared_ptr<const std::vector<StylePlan>> plans = PlansFor(ParseHost(public_host));
  // A page is read against the layouts that ask a question first when it
  // seems to, and last otherwise: a genuine page then takes one reading.
  const bool seems_asking = html.find(QuestionTemplate(1).substr(0, 12)) != std::string_view::npos;
  std::vector<std::pair<const StylePlan*, const PageLayout*>> order;
  for (const bool asking : {seems_asking, !seems_asking})
    for (const StylePlan& plan : *plans)
      for (const PageLayout& layout : plan.layouts())
        if (layout.asking() == asking) order.emplace_back(&plan, &layout);
  const PageLayout* best = nullptr;
  std::size_t furthest = 0;
  std::string why;
  for (const auto& [plan, layout] : order) {
    // Read until what the values build is this very page, byte for byte.
    Reading reading(*plan, *layout, html);
    if (reading.Run()) {
      const Style& style = GetStyle(layout->style());
      const ReadFields fields(layout->names(), reading.values(), layout->floating());
      PageCheck check{true, {}, layout->style(), {}};
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
      best = layout;
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
    check.refusal = "page of style " + std::to_string(best->style()) + ": " + why;
  else
    check.refusal = "page differs from style " + std::to_string(best->style()) + " at byte " +
                    std::to_string(furthest) + ": \"" + Near(html, furthest) + "\"";
  return check;
}

PageCheck CheckSentPage(std::string_view bytes, std::string_view public_host) {
  const std::optional<std::string> text = FromGbkExactly(bytes);
  if (!text) return {false, "page is not GBK text", 0, {}};
  return CheckPage(*text, public_host);
}

}  // namespace heartpage::server
