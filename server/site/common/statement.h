#pragma once

#include <string>
#include <string_view>
#include <variant>

// The only statements the server answers. Clients send SQL text, but the text
// is matched against the four shapes the publishing client composes and only
// the values between the quotes are kept; they are then bound as parameters.
// No SQL text from the network ever reaches the database.
namespace heartpage::server {

// select * from 系统设置
struct SettingsQuery {};
// select * from 免费 where 硬盘ID='…'
struct MachineLookup {
  std::string machine_id;
};
// select * from 免费 where 文件名='…'
struct NameLookup {
  std::string name;
};
// insert into 免费 (硬盘ID,文件名) values ('…', '…')
struct NameClaim {
  std::string machine_id;
  std::string name;
};

struct StatementError {
  std::string message;
};

using Statement = std::variant<SettingsQuery, MachineLookup, NameLookup, NameClaim, StatementError>;

// `text` is UTF-8. Inside quotes a doubled quote stands for one quote; a lone
// quote ends the value, so whatever follows it must be the rest of the shape.
Statement ParseStatement(std::string_view text);

}  // namespace heartpage::server
