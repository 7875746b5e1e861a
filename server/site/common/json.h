#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>

// The little JSON the maker in the browser speaks: one object of strings,
// booleans, whole numbers and, one level down, objects of strings. Read
// strictly, since strangers write it: valid UTF-8 only, no duplicate names,
// nothing after the object, nothing deeper.
namespace heartpage::server {

using JsonStrings = std::map<std::string, std::string, std::less<>>;

struct JsonValue {
  std::variant<std::string, bool, std::int64_t, JsonStrings> value;
};

using JsonObject = std::map<std::string, JsonValue, std::less<>>;

struct JsonError {
  std::string message;
};

std::variant<JsonObject, JsonError> ReadJsonObject(std::string_view text);

// `text` (UTF-8) as a JSON string, quotes included. "<" is escaped too, so
// that no answer can close a script element it is pasted into.
void AppendJsonString(std::string& out, std::string_view text);
std::string JsonString(std::string_view text);

}  // namespace heartpage::server
