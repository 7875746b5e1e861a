#pragma once

#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/storage.h"

namespace heartpage::server {

using Request = boost::beast::http::request<boost::beast::http::string_body>;
using StringResponse = boost::beast::http::response<boost::beast::http::string_body>;
using FileResponse = boost::beast::http::response<boost::beast::http::file_body>;

// The 200 answer of a published page, the busiest answer of the site: its
// header already written out, and the page, which the connection sends
// straight from the page's file when it can.
struct PageResponse {
  std::string head;
  std::shared_ptr<const StoredPage> page;
  bool keep_alive = false;
};

using Response = std::variant<StringResponse, FileResponse, PageResponse>;

// What answering needs to know of the site.
struct Site {
  Storage& storage;
  std::string public_host;  // "host:port" that clients reach us at
  std::vector<std::filesystem::path> asset_dirs;
};

// Turns one whole request into its answer: the form endpoint, published
// pages, page assets and the site pages. This is the one place where a
// failing storage becomes a 500. Answers keep the connection open when the
// request allows it, and answers to HEAD carry no body.
Response HandleRequest(const Request& request, const Site& site);

// A short plain-text answer, for what the connection refuses by itself.
StringResponse PlainResponse(unsigned version, bool keep_alive, boost::beast::http::status status,
                             std::string_view message);

unsigned StatusOf(const Response& response);
std::size_t BodyBytesOf(const Response& response);

}  // namespace heartpage::server
