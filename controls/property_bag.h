#pragma once

#include <QFont>
#include <QImage>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace heartpage {

// A colour as the designs store it: 0x00BBGGRR, or 0x800000nn for the
// system colour nn.
struct OleColor {
  std::uint32_t value = 0;
  bool operator==(const OleColor&) const = default;
};

// One stored setting. A null QImage is "no picture".
using PropertyValue =
    std::variant<bool, std::int16_t, std::int32_t, OleColor, std::string, QImage, QFont>;

// Thrown by PropertyBag::FromText for text that is not a saved bag.
class PropertyBagError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The named settings a control saves with its host's design. A value equal
// to the default it is written with is not stored, so that a later change of
// default reaches old designs; reading a missing name, or a name stored with
// another type, answers the default given at reading.
class PropertyBag {
 public:
  void WriteProperty(std::string_view name, PropertyValue value,
                     std::optional<PropertyValue> default_value = std::nullopt);
  PropertyValue ReadProperty(std::string_view name, PropertyValue default_value) const;

  // Typed reading: the default's type is the type asked for.
  template <typename T>
  T Read(std::string_view name, T default_value) const {
    return std::get<T>(ReadProperty(name, PropertyValue(std::move(default_value))));
  }

  bool Contains(std::string_view name) const;
  // The stored names, in the order they were first written.
  std::vector<std::string> Names() const;

  // Text form: a header line, then one "name<TAB>type<TAB>value" line per
  // stored setting. Pictures are base64 PNG, fonts Qt's font description,
  // texts escaped so that a line holds exactly one setting.
  std::string ToText() const;
  static PropertyBag FromText(std::string_view text);

 private:
  struct Entry {
    std::string name;
    PropertyValue value;
  };
  std::vector<Entry> entries_;
};

}  // namespace heartpage
