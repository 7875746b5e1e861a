#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "server/endpoint.h"
#include "server/form.h"

// The checks every operation of the endpoint makes alike (endpoint.cpp).
namespace heartpage::server {

// A refusal: one short line, however long a value it quotes.
EndpointReply Refuse(unsigned status, std::string message);

// Bytes to UTF-8, refusing bytes that are not GBK/GB18030.
std::optional<std::string> TextOf(std::string_view bytes);

// The first field missing from, or not belonging to, an operation.
std::optional<std::string> FieldProblem(const FormFields& fields,
                                        std::initializer_list<std::string_view> names);

// Why a machine identifier is refused; std::nullopt when it is fine.
std::optional<std::string> CheckMachineId(std::string_view machine_id);

}  // namespace heartpage::server
