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
      layout.card_line_rows_.assign(layout.rows_.size(), false);
      for (std::size_t r = 0; r < layout.rows_.size(); ++r)
        layout.card_line_rows_[r] = !NamesSomeone(layout.rows_[r]) && !layout.rows_[r].heading;
      for (std::size_t k = 0; k + 1 < layout.slots_.size(); ++k)
        if (layout.literal(k + 1).empty())
          layout.card_line_rows_[layout.slots_[k].row] =
              layout.card_line_rows_[layout.slots_[k + 1].row] = false;

      layouts_.push_back(std::move(layout));
    }
  }
}

const PageLayout& StylePlan::LayoutFor(bool floating, bool asking) const {
  for (const PageLayout& layout : layouts_)
    if (layout.floating_ == floating && layout.asking_ == asking) return layout;
  return layouts_.front();
}

// The values of a page of the style from its fields, each written where it
// goes. A value is written once, where its key stands in the template, and
// never read again: what it holds, another row's key included, reaches the
// page as typed.
struct StylePlan::Filled {
  const PageLayout* layout = nullptr;
  std::vector<std::string> meant;
  std::vector<Written> written;
  std::vector<std::string_view> values;  // by slot
  std::size_t size = 0;
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
  // page shows, when it is hers and a card can load it from anywhere, else
  // the style's own artwork.
  const std::size_t title = static_cast<std::size_t>(&TitleRow(style) - style.rows.data());
  meant[own] = meant[title];
  meant[own + 1] = CardLine(style, fields, [&](const FieldRow& row) {
    return layout.may_give_card_line(static_cast<std::size_t>(&row - style.rows.data()));
  });
  meant[own + 2] = templates_.artwork;
  const FieldRow* picture = nullptr;
  for (std::size_t k = 0; k < layout.slots_.size(); ++k) {
    const std::size_t r = layout.slots_[k].row;
    if (r < own && layout.rows_[r].kind == FieldKind::kPicture &&
        (picture == nullptr || layout.rows_[r].index < picture->index))
      picture = &layout.rows_[r];
  }
  if (picture != nullptr)
    meant[own + 2] = CardPicture(meant[static_cast<std::size_t>(picture - layout.rows_.data())]);
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
    const std::string_view value = filled.written[slot.row].For(layout.rows_[slot.row], slot.row,
                                                                meant[slot.row], slot.place, seen);
    filled.values[k] = value;
    filled.size += value.size();
  }
  return filled;
}

const std::string& StylePlan::CardPicture(const std::string& address) const {
  const std::string_view artwork = templates_.artwork;
  const std::string_view site_assets = artwork.substr(0, artwork.find("/cards/") + 1);
  return IsAbsoluteWebAddress(address) && !address.starts_with(site_assets) ? address
                                                                            : templates_.artwork;
}

std::string StylePlan::Build(const FieldSource& fields) const {
  const Filled filled = Fill(fields, nullptr);
  const PageLayout& layout = *filled.layout;
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
