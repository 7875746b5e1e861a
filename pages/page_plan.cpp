#include "pages/page_plan.h"

#include <algorithm>
#include <forward_list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

#include "pages/builders.h"
#include "pages/link_card.h"
#include "pages/question.h"
#include "pages/templates.h"

namespace heartpage {
namespace {

enum Part { kStylePart, kCardPart, kQuestionPart };

struct Piece {
  std::size_t start = 0;
  std::size_t end = 0;
  Part part = kStylePart;
  int row = -1;  // the row whose key stands here, or -1 for the part's own text
};

// Puts `part` into `text` at `at`, which lies in the style's text not yet
// cut, and gives it a piece of its own.
void Splice(std::string& text, std::vector<Piece>& pieces, std::size_t at, std::string_view part,
            Part owner) {
  text.insert(at, part);
  std::vector<Piece> next;
  bool spliced = false;
  for (const Piece& piece : pieces) {
    if (spliced) {
      next.push_back({piece.start + part.size(), piece.end + part.size(), piece.part, piece.row});
    } else if (piece.part == kStylePart && piece.start <= at && at <= piece.end) {
      next.push_back({piece.start, at, kStylePart, -1});
      next.push_back({at, at + part.size(), owner, -1});
      next.push_back({at + part.size(), piece.end + part.size(), kStylePart, -1});
      spliced = true;
    } else {
      next.push_back(piece);
    }
  }
  pieces = std::move(next);
}

// The character starting at `at` of valid UTF-8, and its length; length 0
// where the bytes are no character.
std::pair<char32_t, std::size_t> CharAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {lead, 1};
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return {0, 0};
  char32_t c = lead & (0x3F >> (length - 1));
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  return {c, length};
}

// The last character of `text`, or 0 length when it ends in no character.
std::pair<char32_t, std::size_t> LastChar(std::string_view text) {
  for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const std::size_t at = text.size() - back;
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    const auto found = CharAt(text, at);
    return found.second == back ? found : std::pair<char32_t, std::size_t>{0, 0};
  }
  return {0, 0};
}

// Replaces every occurrence of the row's key in `page`, left to right and
// without looking into what it inserts, each written for where it stands
// in the page as the earlier rows left it.
void Substitute(std::string& page, const FieldRow& row, const std::string& value,
                std::string& out) {
  std::size_t hit = page.find(row.key);
  if (hit == std::string::npos) return;
  std::vector<std::pair<Placement, std::string>> written;
  PageScanner scanner(page);
  out.clear();
  std::size_t pos = 0;
  for (; hit != std::string::npos; hit = page.find(row.key, pos)) {
    const Placement place = scanner.At(hit);
    auto known = std::find_if(written.begin(), written.end(),
                              [&](const auto& entry) { return entry.first == place; });
    if (known == written.end())
      known = written.insert(written.end(), {place, WrittenValue(row, value, place)});
    out.append(page, pos, hit - pos).append(known->second);
    pos = hit + row.key.size();
  }
  out.append(page, pos);
  page.swap(out);
}

// A part filled apart (the card, the question): each key replaced in one
// pass over the part as written, so that a value may read like another
// key and still be itself.
std::string FilledPart(std::string_view part, const std::vector<FieldRow>& rows,
                       const std::string* const* values) {
  std::vector<std::pair<std::size_t, std::size_t>> hits;  // offset, row
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t at = part.find(rows[i].key); at != std::string_view::npos;
         at = part.find(rows[i].key, at + rows[i].key.size()))
      hits.emplace_back(at, i);
  std::sort(hits.begin(), hits.end());
  PageScanner scanner(part);
  std::string out;
  std::size_t pos = 0;
  for (const auto& [at, i] : hits) {
    out.append(part, pos, at - pos).append(WrittenValue(rows[i], *values[i], scanner.At(at)));
    pos = at + rows[i].key.size();
  }
  out.append(part, pos);
  return out;
}

std::string WithFloatingPicture(std::string page, std::string_view floating) {
  // The floating picture closes the body: in front of the doctype it would
  // put the page in quirks mode and push the charset past the part of the
  // page a browser reads for it.
  const std::size_t end = page.rfind("</body>");
  page.insert(end == std::string::npos ? page.size() : end, floating);
  return page;
}

}  // namespace

// What a value is written as, once per place it stands in: written here, or
// what the caller saw it written as.
// Nothing is allocated for a row until it is written: most rows stand in one
// place, and a build makes these for every row.
struct StylePlan::Written {
  std::vector<std::pair<Placement, std::string_view>> forms;
  std::forward_list<std::string> made;  // each stays where it is as more are made
  std::string_view For(const FieldRow& row, std::size_t r, const std::string& meant,
                       const Placement& place, const SeenWriting* seen) {
    for (const auto& [known, text] : forms)
      if (known == place) return text;
    std::optional<std::string_view> text;
    if (seen != nullptr) text = seen->Find(r, meant, place);
    if (!text) text = made.emplace_front(WrittenValue(row, meant, place));
    forms.emplace_back(place, *text);
    return *text;
  }
};

StylePlan::StylePlan(int number, const PageTemplates& templates)
    : style_(number), templates_(templates) {
  const Style& style = GetStyle(number);
  for (std::size_t r = 0; r < style.rows.size(); ++r) {
    const std::string& key = style.rows[r].key;
    for (std::size_t at = 0, index = 0; at < key.size(); ++index) {
      const auto [c, length] = CharAt(key, at);
      if (length == 0)
        throw std::logic_error("a key of style " + std::to_string(number) + " is no UTF-8 text");
      auto it =
          std::lower_bound(key_chars_.begin(), key_chars_.end(), c,
                           [](const KeyChar& known, char32_t wanted) { return known.c < wanted; });
      if (it == key_chars_.end() || it->c != c) it = key_chars_.insert(it, KeyChar{c, {}, {}, {}});
      if (index > 0) it->after_first.push_back({r, at, length});
      if (at + length < key.size()) it->before_last.push_back({r, at, length});
      if (index == 0) it->starting.push_back(r);
      at += length;
    }
  }

  key_char_seen_.assign(0x10000, false);
  key_start_seen_.assign(0x10000, false);
  for (const KeyChar& key_char : key_chars_) {
    if (key_char.c >= key_char_seen_.size()) continue;
    key_char_seen_[key_char.c] = true;
    if (!key_char.starting.empty()) key_start_seen_[key_char.c] = true;
  }

  for (const bool floating : {false, true}) {
    if (floating && !style.has_check) continue;
    for (const bool asking : {false, true}) {
      PageLayout layout;
      layout.style_ = number;
      layout.floating_ = floating;
      layout.asking_ = asking;
      std::vector<Part> parts;
      for (const FieldRow& row : style.rows) {
        layout.rows_.push_back(row);
        layout.names_.push_back(row.Name());
        parts.push_back(kStylePart);
      }
      for (const FieldRow& row : LinkCardRows()) {
        layout.rows_.push_back(row);
        layout.names_.emplace_back();
        parts.push_back(kCardPart);
      }
      if (asking) {
        for (std::size_t i = 0; i < QuestionRows().size(); ++i) {
          layout.rows_.push_back(QuestionRows()[i]);
          layout.names_.push_back(QuestionFieldNames()[i]);
          parts.push_back(kQuestionPart);
        }
      }

      std::string text =
          floating ? WithFloatingPicture(templates.style, templates.floating) : templates.style;
      std::vector<Piece> pieces = {{0, text.size(), kStylePart, -1}};
      Splice(text, pieces, CardPartAt(text), templates.card, kCardPart);
      // The question part goes in front of the end of the body, which no
      // value written can hold.
      if (asking) Splice(text, pieces, QuestionPartAt(text), templates.question, kQuestionPart);
      for (std::size_t r = 0; r < layout.rows_.size(); ++r) {
        const std::string_view key = layout.rows_[r].key;
        std::vector<Piece> next;
        for (const Piece& piece : pieces) {
          if (piece.row >= 0 || piece.part != parts[r]) {
            next.push_back(piece);
            continue;
          }
          const std::string_view literal(text.data() + piece.start, piece.end - piece.start);
          std::size_t pos = 0;
          for (std::size_t hit = literal.find(key); hit != std::string_view::npos;
               hit = literal.find(key, pos)) {
            next.push_back({piece.start + pos, piece.start + hit, piece.part, -1});
            next.push_back({piece.start + hit, piece.start + hit + key.size(), piece.part,
                            static_cast<int>(r)});
            pos = hit + key.size();
          }
          next.push_back({piece.start + pos, piece.end, piece.part, -1});
        }
        pieces = std::move(next);
      }

      PageScanner scanner(text);
      for (const Piece& piece : pieces) {
        if (piece.row < 0) {
          layout.text_.append(text, piece.start, piece.end - piece.start);
          continue;
        }
        layout.ends_.push_back(layout.text_.size());
        layout.slots_.push_back({static_cast<std::size_t>(piece.row), scanner.At(piece.start)});
      }
      layout.ends_.push_back(layout.text_.size());

      // An empty value joins the texts on either side; a later key may then
      // stand across the join, as a step-by-step build would find it. Where
      // a side is shorter than the key's part, what lies beyond decides:
      // that counts as may.
      for (std::size_t k = 0; k < layout.slots_.size(); ++k) {
        const std::size_t row = layout.slots_[k].row;
        const std::string_view left = layout.literal(k), right = layout.literal(k + 1);
        bool joins = false;
        for (std::size_t later = row + 1;
             parts[row] == kStylePart && later < style.rows.size() && !joins; ++later) {
          const std::string_view key = style.rows[later].key;
          for (std::size_t split = 1; split < key.size() && !joins; ++split) {
            const std::string_view head = key.substr(0, split), tail = key.substr(split);
            joins =
                (left.size() >= head.size() ? left.ends_with(head) : head.ends_with(left)) &&
                (right.size() >= tail.size() ? right.starts_with(tail) : tail.starts_with(right));
          }
        }
        layout.empty_joins_.push_back(joins);
      }
      layouts_.push_back(std::move(layout));
    }
  }
}

const StylePlan::KeyChar* StylePlan::FindKeyChar(char32_t c) const {
  if (c < key_char_seen_.size() && !key_char_seen_[c]) return nullptr;
  const auto it =
      std::lower_bound(key_chars_.begin(), key_chars_.end(), c,
                       [](const KeyChar& known, char32_t wanted) { return known.c < wanted; });
  return it == key_chars_.end() || it->c != c ? nullptr : &*it;
}

const PageLayout& StylePlan::LayoutFor(bool floating, bool asking) const {
  for (const PageLayout& layout : layouts_)
    if (layout.floating_ == floating && layout.asking_ == asking) return layout;
  return layouts_.front();
}

// Whether a later row's key could stand in, or across the ends of, what the
// row wrote: inside it, or reaching in from before it or out past its end.
// Where a key would go on past the whole value, the neighbours decide: that
// counts as could.
bool StylePlan::MayJoinLaterKey(std::size_t row, std::string_view written) const {
  const std::vector<FieldRow>& rows = GetStyle(style_).rows;
  const auto [first, first_length] = CharAt(written, 0);
  if (first_length == 0) return true;
  if (const KeyChar* key_char = FindKeyChar(first)) {
    for (const KeyChar::At& place : key_char->after_first) {
      if (place.row <= row) continue;
      const std::string_view rest = std::string_view(rows[place.row].key).substr(place.offset);
      if (written.size() >= rest.size() ? written.starts_with(rest) : rest.starts_with(written))
        return true;
    }
  }
  const auto [last, last_length] = LastChar(written);
  if (last_length == 0) return true;
  if (const KeyChar* key_char = FindKeyChar(last)) {
    for (const KeyChar::At& place : key_char->before_last) {
      if (place.row <= row) continue;
      const std::string_view head =
          std::string_view(rows[place.row].key).substr(0, place.offset + place.length);
      if (written.size() >= head.size() ? written.ends_with(head) : head.ends_with(written))
        return true;
    }
  }
  // A key inside the value starts with one of the few characters that start
  // a key: most of a long value is passed over a table look-up at a time.
  for (std::size_t at = 0; at < written.size();) {
    const auto lead = static_cast<unsigned char>(written[at]);
    if (lead < 0x80) {
      if (key_start_seen_[lead] && StartsLaterKey(row, written, at, lead)) return true;
      ++at;
      continue;
    }
    // Chinese text is three bytes a character: read here, not by a call.
    if ((lead & 0xF0) == 0xE0 && written.size() - at >= 3) {
      const auto second = static_cast<unsigned char>(written[at + 1]);
      const auto third = static_cast<unsigned char>(written[at + 2]);
      if ((second & 0xC0) == 0x80 && (third & 0xC0) == 0x80) {
        const char32_t c = (lead & 0x0Fu) << 12 | (second & 0x3Fu) << 6 | (third & 0x3Fu);
        if (key_start_seen_[c] && StartsLaterKey(row, written, at, c)) return true;
        at += 3;
        continue;
      }
    }
    const auto [c, length] = CharAt(written, at);
    if (length == 0) return true;
    if ((c >= key_start_seen_.size() || key_start_seen_[c]) && StartsLaterKey(row, written, at, c))
      return true;
    at += length;
  }
  return false;
}

bool StylePlan::StartsLaterKey(std::size_t row, std::string_view written, std::size_t at,
                               char32_t c) const {
  const std::vector<FieldRow>& rows = GetStyle(style_).rows;
  if (const KeyChar* key_char = FindKeyChar(c))
    for (const std::size_t later : key_char->starting)
      if (later > row && written.compare(at, rows[later].key.size(), rows[later].key) == 0)
        return true;
  return false;
}

// The values of a page of the style from its fields, each written where it
// goes; or, where a value may hold or join a later row's key, the meant
// values for a build step by step.
struct StylePlan::Filled {
  const PageLayout* layout = nullptr;
  std::vector<std::string> meant;
  std::vector<Written> written;
  std::vector<std::string_view> values;  // by slot
  std::size_t size = 0;
  bool step_by_step = false;
};

StylePlan::Filled StylePlan::Fill(const FieldSource& fields, const SeenWriting* seen) const {
  const Style& style = GetStyle(style_);
  const bool floating = style.has_check && fields.Checked();
  const std::optional<AskedQuestion> asked = QuestionOf(fields);
  Filled filled;
  filled.layout = &LayoutFor(floating, asked.has_value());
  const PageLayout& layout = *filled.layout;
  const std::size_t own = style.rows.size();

  std::vector<std::string>& meant = filled.meant;
  meant.resize(layout.rows_.size());
  for (std::size_t r = 0; r < own; ++r)
    meant[r] = MeantValue(layout.rows_[r], fields.Value(layout.names_[r]));
  // The card tells of the page as its fields make it: the first picture the
  // page shows, when a card can load it from anywhere, else the style's own
  // artwork.
  const std::size_t title = static_cast<std::size_t>(&TitleRow(style) - style.rows.data());
  meant[own] = meant[title];
  meant[own + 1] = CardLine(style, fields);
  meant[own + 2] = templates_.artwork;
  const FieldRow* picture = nullptr;
  for (std::size_t k = 0; k < layout.slots_.size(); ++k) {
    const std::size_t r = layout.slots_[k].row;
    if (r < own && layout.rows_[r].kind == FieldKind::kPicture &&
        (picture == nullptr || layout.rows_[r].index < picture->index))
      picture = &layout.rows_[r];
  }
  if (picture != nullptr) {
    const std::string& address = meant[static_cast<std::size_t>(picture - layout.rows_.data())];
    if (IsAbsoluteWebAddress(address)) meant[own + 2] = address;
  }
  if (asked) {
    meant[own + 3] = asked->question;
    meant[own + 4] = asked->answer1;
    meant[own + 5] = asked->answer2;
  }

  filled.written.resize(layout.rows_.size());
  filled.values.resize(layout.slots_.size());
  filled.size = layout.text_.size();
  for (std::size_t k = 0; k < layout.slots_.size(); ++k) {
    const PlanSlot& slot = layout.slots_[k];
    Written& written = filled.written[slot.row];
    const std::size_t forms = written.forms.size();
    const std::string_view value =
        written.For(layout.rows_[slot.row], slot.row, meant[slot.row], slot.place, seen);
    filled.values[k] = value;
    filled.size += value.size();
    if (slot.row >= own) continue;
    if (value.empty() ? layout.empty_joins_[k]
                      : forms != written.forms.size() && MayJoinLaterKey(slot.row, value)) {
      filled.step_by_step = true;
      return filled;
    }
  }
  return filled;
}

std::string StylePlan::Build(const FieldSource& fields) const {
  const Filled filled = Fill(fields, nullptr);
  const PageLayout& layout = *filled.layout;
  if (filled.step_by_step) return StepByStep(layout, filled.meant);
  std::string page;
  page.reserve(filled.size);
  for (std::size_t k = 0; k < layout.slots_.size(); ++k)
    page.append(layout.literal(k)).append(filled.values[k]);
  page.append(layout.literal(layout.slots_.size()));
  return page;
}

bool StylePlan::Builds(const FieldSource& fields, std::string_view page,
                       const SeenWriting* seen) const {
  const Filled filled = Fill(fields, seen);
  const PageLayout& layout = *filled.layout;
  if (filled.step_by_step) return StepByStep(layout, filled.meant) == page;
  if (filled.size != page.size()) return false;
  std::size_t at = 0;
  const auto next = [&](std::string_view part) {
    if (page.compare(at, part.size(), part) != 0) return false;
    at += part.size();
    return true;
  };
  for (std::size_t k = 0; k < layout.slots_.size(); ++k)
    if (!next(layout.literal(k)) || !next(filled.values[k])) return false;
  return next(layout.literal(layout.slots_.size()));
}

// Every row in order over the whole page as the earlier rows left it, so
// that a later key inside an earlier value takes the later value; the card
// and the question are filled apart and added last.
std::string StylePlan::StepByStep(const PageLayout& layout,
                                  const std::vector<std::string>& meant) const {
  const Style& style = GetStyle(style_);
  std::string page = layout.floating_ ? WithFloatingPicture(templates_.style, templates_.floating)
                                      : templates_.style;
  std::string scratch;
  for (std::size_t r = 0; r < style.rows.size(); ++r)
    Substitute(page, style.rows[r], meant[r], scratch);
  const std::size_t own = style.rows.size();
  const std::string* card[] = {&meant[own], &meant[own + 1], &meant[own + 2]};
  page.insert(CardPartAt(page), FilledPart(templates_.card, LinkCardRows(), card));
  if (layout.asking_) {
    const std::string* asked[] = {&meant[own + 3], &meant[own + 4], &meant[own + 5]};
    page.insert(QuestionPartAt(page), FilledPart(templates_.question, QuestionRows(), asked));
  }
  return page;
}

std::string UnboundArtwork(int style) {
  return "http://" + std::string(kHostToken) + "/biaobai/cards/style" + std::to_string(style) +
         ".jpg";
}

const StylePlan& OwnPlan(int style) {
  static const std::vector<StylePlan> plans = [] {
    std::vector<StylePlan> made;
    for (int n = 1; n <= kStyleCount; ++n)
      made.emplace_back(
          n, PageTemplates{std::string(StyleTemplate(n)), std::string(FloatingPictureTemplate()),
                           std::string(LinkCardTemplate()), std::string(QuestionTemplate(n)),
                           BindHost(UnboundArtwork(n))});
    return made;
  }();
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no style " + std::to_string(style) + "; styles are 1 to 8");
  return plans[static_cast<std::size_t>(style - 1)];
}

std::shared_ptr<const std::vector<StylePlan>> PlansFor(const HostAddress& host) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, std::string>,
                  std::shared_ptr<const std::vector<StylePlan>>>
      made;
  const std::pair<std::string, std::string> key{host.scheme, host.authority};
  {
    const std::lock_guard lock(mutex);
    if (const auto it = made.find(key); it != made.end()) return it->second;
  }
  auto plans = std::make_shared<std::vector<StylePlan>>();
  const std::string floating = BindHost(UnboundTemplate(0), host);
  for (int n = 1; n <= kStyleCount; ++n)
    plans->emplace_back(
        n,
        PageTemplates{BindHost(UnboundTemplate(n), host), floating, std::string(LinkCardTemplate()),
                      std::string(QuestionTemplate(n)), BindHost(UnboundArtwork(n), host)});
  const std::lock_guard lock(mutex);
  // A server has one address; tests start many.
  if (made.size() >= 8) made.clear();
  return made.emplace(key, std::move(plans)).first->second;
}

}  // namespace heartpage
