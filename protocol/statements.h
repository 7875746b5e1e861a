#pragma once

#include <string>
#include <string_view>

// The four statements the program sends in `sql` and the server accepts. The
// program composes them from these texts; the server matches a statement
// against the same texts and keeps only the values between the quotes.
namespace heartpage::wire {

// select * from 系统设置
inline constexpr std::string_view kSettingsQuery = "select * from 系统设置";
// select * from 免费 where 硬盘ID='…'
inline constexpr std::string_view kMachineLookupStart = "select * from 免费 where 硬盘ID='";
// select * from 免费 where 文件名='…'
inline constexpr std::string_view kNameLookupStart = "select * from 免费 where 文件名='";
// insert into 免费 (硬盘ID,文件名) values ('…', '…')
inline constexpr std::string_view kClaimStart = "insert into 免费 (硬盘ID,文件名) values ('";
inline constexpr std::string_view kClaimMiddle = "', '";
inline constexpr std::string_view kClaimEnd = "')";
inline constexpr std::string_view kLookupEnd = "'";

// The value with every single quote doubled, ready to stand between quotes in
// a statement: a name or identifier holding a quote can neither break the
// statement nor rewrite it.
std::string QuoteValue(std::string_view value);

std::string SettingsStatement();
std::string OwnershipLookupStatement(std::string_view machine_id);
std::string NameLookupStatement(std::string_view name);
std::string NameClaimStatement(std::string_view machine_id, std::string_view name);

}  // namespace heartpage::wire
