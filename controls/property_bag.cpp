#include "controls/property_bag.h"

#include <QBuffer>
#include <QByteArray>
#include <algorithm>
#include <charconv>
#include <optional>

#include "text/backslashes.h"

namespace heartpage {
namespace {

constexpr std::string_view kHeader = "HeartPage property bag 1";

// Type tags in the order of PropertyValue's alternatives.
constexpr std::string_view kTypeNames[] = {"Boolean", "Integer", "Long", "Color",
                                           "String",  "Picture", "Font"};

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view text, int line) {
  std::string bad;
  std::optional<std::string> out = DecodeBackslashes(text, {.tab = true}, &bad);
  if (out) return *std::move(out);
  throw PropertyBagError(
      "line " + std::to_string(line) + ": " +
      (bad.empty() ? "text ends in a lone backslash" : "unknown escape \\" + bad));
}

template <typename T>
T ParseNumber(std::string_view text, int base, int line) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size())
    throw PropertyBagError("line " + std::to_string(line) + ": \"" + std::string(text) +
                           "\" is not a number of the stated type");
  return value;
}

std::string FormatValue(const PropertyValue& value) {
  struct Formatter {
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::int16_t v) const { return std::to_string(v); }
    std::string operator()(std::int32_t v) const { return std::to_string(v); }
    std::string operator()(OleColor v) const {
      char digits[9] = {};
      std::to_chars(digits, digits + 8, v.value, 16);
      return digits;
    }
    std::string operator()(const std::string& v) const { return Escape(v); }
    std::string operator()(const QImage& v) const {
      if (v.isNull()) return {};
      QByteArray png;
      QBuffer buffer(&png);
      buffer.open(QIODevice::WriteOnly);
      v.save(&buffer, "PNG");
      return png.toBase64().toStdString();
    }
    // Qt's description names one family; the fallbacks follow it.
    std::string operator()(const QFont& v) const {
      return Escape(v.toString().toStdString()) + '\t' +
             Escape(v.families().join(QChar('\n')).toStdString());
    }
  };
  return std::visit(Formatter{}, value);
}

PropertyValue ParseValue(std::size_t type, std::string_view text, int line) {
  switch (type) {
    case 0:
      if (text == "True") return true;
      if (text == "False") return false;
      throw PropertyBagError("line " + std::to_string(line) + ": a Boolean is True or False");
    case 1:
      return ParseNumber<std::int16_t>(text, 10, line);
    case 2:
      return ParseNumber<std::int32_t>(text, 10, line);
    case 3:
      return OleColor{ParseNumber<std::uint32_t>(text, 16, line)};
    case 4:
      return Unescape(text, line);
    case 5: {
      if (text.empty()) return QImage();
      QImage image;
      const QByteArray png = QByteArray::fromBase64(QByteArray(text.data(), text.size()));
      if (!image.loadFromData(png, "PNG"))
        throw PropertyBagError("line " + std::to_string(line) + ": the picture cannot be read");
      return image;
    }
    default: {
      const std::size_t tab = text.find('\t');
      QFont font;
      if (!font.fromString(QString::fromStdString(Unescape(text.substr(0, tab), line))))
        throw PropertyBagError("line " + std::to_string(line) + ": the font cannot be read");
      if (tab != std::string_view::npos) {
        const QString families = QString::fromStdString(Unescape(text.substr(tab + 1), line));
        if (!families.isEmpty()) font.setFamilies(families.split(QChar('\n')));
      }
      return font;
    }
  }
}

}  // namespace

void PropertyBag::WriteProperty(std::string_view name, PropertyValue value,
                                std::optional<PropertyValue> default_value) {
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.name == name; });
  if (default_value && *default_value == value) {
    if (found != entries_.end()) entries_.erase(found);
    return;
  }
  if (found != entries_.end()) {
    found->value = std::move(value);
  } else {
    entries_.push_back({std::string(name), std::move(value)});
  }
}

PropertyValue PropertyBag::ReadProperty(std::string_view name, PropertyValue default_value) const {
  for (const Entry& entry : entries_) {
    if (entry.name != name) continue;
    // A setting saved with another type cannot be trusted to mean the same.
    if (entry.value.index() != default_value.index()) return default_value;
    return entry.value;
  }
  return default_value;
}

bool PropertyBag::Contains(std::string_view name) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return e.name == name; });
}

std::vector<std::string> PropertyBag::Names() const {
  std::vector<std::string> names;
  for (const Entry& entry : entries_) names.push_back(entry.name);
  return names;
}

std::string PropertyBag::ToText() const {
  std::string text(kHeader);
  text += '\n';
  for (const Entry& entry : entries_) {
    text += entry.name;
    text += '\t';
    text += kTypeNames[entry.value.index()];
    text += '\t';
    text += FormatValue(entry.value);
    text += '\n';
  }
  return text;
}

PropertyBag PropertyBag::FromText(std::string_view text) {
  PropertyBag bag;
  int line_number = 0;
  bool header_seen = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!header_seen) {
      if (line != kHeader) throw PropertyBagError("not a saved property bag");
      header_seen = true;
      continue;
    }
    if (line.empty()) continue;
    const std::size_t first_tab = line.find('\t');
    const std::size_t second_tab =
        first_tab == std::string_view::npos ? first_tab : line.find('\t', first_tab + 1);
    if (second_tab == std::string_view::npos || first_tab == 0)
      throw PropertyBagError("line " + std::to_string(line_number) +
                             ": expected name, type and value separated by tabs");
    const std::string_view name = line.substr(0, first_tab);
    const std::string_view type = line.substr(first_tab + 1, second_tab - first_tab - 1);
    const auto known = std::find(std::begin(kTypeNames), std::end(kTypeNames), type);
    if (known == std::end(kTypeNames))
      throw PropertyBagError("line " + std::to_string(line_number) + ": unknown type \"" +
                             std::string(type) + "\"");
    if (bag.Contains(name))
      throw PropertyBagError("line " + std::to_string(line_number) + ": \"" + std::string(name) +
                             "\" is stored twice");
    bag.entries_.push_back(
        {std::string(name), ParseValue(static_cast<std::size_t>(known - std::begin(kTypeNames)),
                                       line.substr(second_tab + 1), line_number)});
  }
  if (!header_seen) throw PropertyBagError("not a saved property bag");
  return bag;
}

}  // namespace heartpage
