#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace heartpage::cli {

// Each command takes the arguments after its name and answers the exit status.
int Build(const std::vector<std::string>& args);
int Fields(const std::vector<std::string>& args);
int Preview(const std::vector<std::string>& args);
int Encode(const std::vector<std::string>& args);
int Decode(const std::vector<std::string>& args);
int MachineId(const std::vector<std::string>& args);
int Publish(const std::vector<std::string>& args);
int Settings(const std::vector<std::string>& args);
int UploadFile(const std::vector<std::string>& args);
int Unpublish(const std::vector<std::string>& args);
int Release(const std::vector<std::string>& args);
int Qr(const std::vector<std::string>& args);
int Status(const std::vector<std::string>& args);
int Poster(const std::vector<std::string>& args);

// The identifier `command` publishes under: `given` (its --machine-id), else
// this machine's disk serial; nothing, said on stderr, when that cannot be
// read.
std::optional<std::string> MachineIdFor(std::string_view command, std::string given);
// MachineIdFor of "--machine-id ID" taken out of `args`, the rest left in
// order. Throws UsageError for the flag without its value.
std::optional<std::string> TakeMachineId(std::string_view command, std::vector<std::string>& args);

// Writes the QR code of `text` as a PNG; says why on stderr when it cannot.
bool WriteQrPng(const std::string& text, const std::string& file);

}  // namespace heartpage::cli
