#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/command_table.h"

namespace heartpage::cli {

// Each command takes what its flags and words said (its row of the table in
// main.cpp) and answers the exit status.
int Build(const Arguments& args);
int Fields(const Arguments& args);
int Preview(const Arguments& args);
int Encode(const Arguments& args);
int Decode(const Arguments& args);
int MachineId(const Arguments& args);
int Publish(const Arguments& args);
int Settings(const Arguments& args);
int UploadFile(const Arguments& args);
int Unpublish(const Arguments& args);
int Release(const Arguments& args);
int Qr(const Arguments& args);
int Status(const Arguments& args);
int Poster(const Arguments& args);

// The identifier `command` publishes under: `given` (its --machine-id), else
// this machine's disk serial; nothing, said on stderr, when that cannot be
// read.
std::optional<std::string> MachineIdFor(std::string_view command, std::string given);
// Writes the QR code of `text` as a PNG; says why on stderr when it cannot.
bool WriteQrPng(const std::string& text, const std::string& file);

}  // namespace heartpage::cli
