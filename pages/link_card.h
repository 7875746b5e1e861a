#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/styles.h"

// The lines chats and messengers read for the card they show of a link:
// the page's title, its first line of text and a picture, put in front of
// the end of the page's head and filled apart from the style's own keys, so
// that no value typed reaches into them, nor theirs into the page.
namespace heartpage {

class FieldSource;

// The card's three rows, in the order the builder fills them: the title,
// the first line of text and the picture's address.
const std::vector<FieldRow>& LinkCardRows();

// The row of `style` that gives the page its title.
const FieldRow& TitleRow(const Style& style);

// The first line of the message: the first field, in the editor's order, that
// is text and not the title, holds more than blanks, and is not all markup;
// its first line, without markup, trimmed.
std::string FirstMessageLine(const Style& style, const FieldSource& fields);

// The first line of `text` that holds more than blanks, without markup,
// trimmed; empty when none.
std::string FirstLineOf(std::string_view text);

// A card's line as a card carries it: at most its first 100 characters.
std::string CardText(std::string line);

// CardText(FirstLineOf(text)), reading no further into `text` than it needs.
std::string CardLineOf(std::string_view text);

// Whether the field is someone's name ("对方名字：", "你的署名：", "您爱人的
// 姓名或小名"): a chat showing a bare name under the title learns nothing, so
// it never gives the card its line.
bool NamesSomeone(const FieldRow& row);

// The line a page's card carries: the first CardLineOf of the message's
// fields, in the editor's order, that is not empty; of those `gives` takes
// alone, when given.
std::string CardLine(const Style& style, const FieldSource& fields,
                     const std::function<bool(const FieldRow&)>& gives = {});

// Whether `address` is an absolute http or https address, which a card can
// show from anywhere.
bool IsAbsoluteWebAddress(std::string_view address);

// Where the card goes in a page of any style: in front of its first </head>.
std::size_t CardPartAt(std::string_view page);

}  // namespace heartpage
