#pragma once

#include <string>
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

// "--machine-id ID" out of `args`, the rest left in order; without one, this
// machine's disk serial. Throws UsageError for a flag without its value,
// std::runtime_error when the serial cannot be read.
std::string TakeMachineId(std::vector<std::string>& args);

// Writes the QR code of `text` as a PNG; says why on stderr when it cannot.
bool WriteQrPng(const std::string& text, const std::string& file);

}  // namespace heartpage::cli
