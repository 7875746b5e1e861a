#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/placement.h"
#include "pages/styles.h"
#include "protocol/host.h"

// Where every value of a style's page goes and how it is written there,
// found once from the style's templates: a build then only writes the values
// in, and the server's check reads them back from the same cuts.
namespace heartpage {

class FieldSource;

// One place a value is written: the row it comes from, and how it is written
// where it stands.
struct PlanSlot {
  std::size_t row = 0;
  Placement place;
};

// A page of one style cut where the builder writes values, row by row and
// never inside an earlier row's value: literal(k) stands before slot(k), and
// literal(slot_count()) ends the page.
class PageLayout {
 public:
  int style() const { return style_; }
  bool floating() const { return floating_; }  // with the floating picture
  bool asking() const { return asking_; }      // with the question part

  // The rows it writes, in the order the builder fills them: the style's,
  // the link card's, then the question's when it asks one.
  const std::vector<FieldRow>& rows() const { return rows_; }
  // The field each row is read from; empty for the link card's rows, whose
  // values follow from the others.
  const std::vector<std::string>& names() const { return names_; }

  std::size_t slot_count() const { return slots_.size(); }
  const PlanSlot& slot(std::size_t k) const { return slots_[k]; }
  std::string_view literal(std::size_t k) const {
    const std::size_t start = k == 0 ? 0 : ends_[k - 1];
    return std::string_view(text_).substr(start, ends_[k] - start);
  }
  // Whether row `r` may give the link card its line: not a name (hers, his,
  // a signature) nor a heading, nor a row standing right beside another, nothing between
  // them (style 5's two halves of a name), since a page does not tell where
  // one ends. What builds a page and what reads one back both ask this.
  bool may_give_card_line(std::size_t r) const {
    return r < card_line_rows_.size() && card_line_rows_[r];
  }

 private:
  friend class StylePlan;
  std::string text_;               // the literals one after the other
  std::vector<std::size_t> ends_;  // where each literal ends in text_
  std::vector<PlanSlot> slots_;
  std::vector<FieldRow> rows_;
  std::vector<std::string> names_;
  std::vector<bool> card_line_rows_;
  int style_ = 0;
  bool floating_ = false;
  bool asking_ = false;
};

// What the pages of one style start from, bound to one publishing host.
struct PageTemplates {
  std::string style;     // the style's template
  std::string floating;  // the floating-picture snippet (styles 2 and 3)
  std::string card;      // the link card's lines, put in front of </head>
  std::string question;  // the question part, put in front of the last </body>
  std::string artwork;   // the address of the style's artwork on the site
};

// What a caller has seen a value written as already, so that a build need
// not write it again.
class SeenWriting {
 public:
  virtual ~SeenWriting() = default;
  // What `meant`, the value of the layout's row `row`, is written as at
  // `place`: nothing when not seen. What it gives must be exactly what
  // WrittenValue gives.
  virtual std::optional<std::string_view> Find(std::size_t row, const std::string& meant,
                                               const Placement& place) const = 0;
};

// Every layout of one style (with and without the floating picture and the
// question), made once; builds any page of the style from its fields.
class StylePlan {
 public:
  StylePlan(int style, const PageTemplates& templates);

  int style() const { return style_; }
  const std::vector<PageLayout>& layouts() const { return layouts_; }
  // The link card's picture for a page whose first picture is at `address`:
  // that picture where a card can load it from anywhere and it is the
  // sender's, else the style's artwork, drawn for cards, rather than one of
  // the site's own pictures for the page, which are too small for one.
  const std::string& CardPicture(const std::string& address) const;

  // The page of the style from `fields`: each value written for the place
  // it lands (pages/field_encoding.h), the link card from the fields it
  // tells of. Each value is written where its key stands in the template
  // and nowhere else: a value holding another row's key shows as typed.
  std::string Build(const FieldSource& fields) const;
  // Whether Build(fields) gives exactly `page`, found without making it
  // where it can be: what `seen` gives stands for a value written again.
  bool Builds(const FieldSource& fields, std::string_view page, const SeenWriting* seen) const;

 private:
  struct Written;
  struct Filled;
  Filled Fill(const FieldSource& fields, const SeenWriting* seen) const;
  const PageLayout& LayoutFor(bool floating, bool asking) const;

  int style_;
  PageTemplates templates_;
  std::vector<PageLayout> layouts_;
};

// The plan of style 1 ... 8 for the program's own host and templates, made
// at first use; throws std::out_of_range for any other style.
const StylePlan& OwnPlan(int style);

// The plans of the eight styles bound to `host` (the server's, the tests'),
// made once per host and shared.
std::shared_ptr<const std::vector<StylePlan>> PlansFor(const HostAddress& host);

// The address of the artwork of style 1 ... 8 on the publishing host, the
// host still its token.
std::string UnboundArtwork(int style);

}  // namespace heartpage
