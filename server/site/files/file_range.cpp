#include "server/site/files/file_range.h"

#include "server/site/common/responses.h"

namespace heartpage::server {

namespace http = boost::beast::http;

Response SendRangedFile(const Request& request, const RangedFile& file, const FileHolder& holder) {
  const auto start = [&](auto& response) {
    holder.SetFields(response);
    response.keep_alive(request.keep_alive());
  };
  const auto describe = [&](auto& response) {
    if (!file.content_type.empty()) response.set(http::field::content_type, file.content_type);
    if (!file.content_encoding.empty())
      response.set(http::field::content_encoding, file.content_encoding);
  };
  const std::string_view if_none_match = request[http::field::if_none_match];
  if (file.modified ? NotModified(if_none_match, request[http::field::if_modified_since], file.etag,
                                  *file.modified)
                    : EtagMatches(if_none_match, file.etag)) {
    StringResponse response(http::status::not_modified, request.version());
    start(response);
    return response;
  }
  const bool head = request.method() == http::verb::head;
  if (!head)
    if (std::optional<Response> held = holder.FromMemory()) return std::move(*held);

  RangeRequest range;
  if (!head || file.head_ranges) {
    const std::string_view if_range = request[http::field::if_range];
    if (if_range.empty() || if_range == file.etag)
      range = ParseRange(request[http::field::range], file.size);
  }
  if (range.kind == RangeRequest::Kind::kUnsatisfiable) {
    StringResponse response(http::status::range_not_satisfiable, request.version());
    start(response);
    describe(response);
    response.set(http::field::content_range, "bytes */" + std::to_string(file.size));
    response.prepare_payload();
    return response;
  }
  const bool part = range.kind == RangeRequest::Kind::kPart;
  if (part && range.range.last - range.range.first >= file.max_part)
    range.range.last = range.range.first + file.max_part - 1;
  const auto status = part ? http::status::partial_content : http::status::ok;
  const auto finish = [&](auto& response) {
    start(response);
    describe(response);
    if (part)
      response.set(http::field::content_range, "bytes " + std::to_string(range.range.first) + "-" +
                                                   std::to_string(range.range.last) + "/" +
                                                   std::to_string(file.size));
  };
  if (head) {
    StringResponse response(status, request.version());
    finish(response);
    response.content_length(part ? range.range.last - range.range.first + 1 : file.size);
    return response;
  }
  std::optional<FileBytes> bytes =
      holder.Read(part ? std::optional<ByteRange>(range.range) : std::nullopt);
  if (!bytes) return PlainResponse(request, http::status::not_found, "not found");
  if (auto* in_memory = std::get_if<std::string>(&*bytes)) {
    StringResponse response(status, request.version());
    finish(response);
    response.body() = std::move(*in_memory);
    response.prepare_payload();
    return response;
  }
  if (auto* pieces = std::get_if<PieceBody::value_type>(&*bytes)) {
    StreamResponse response(std::piecewise_construct, std::make_tuple(std::move(*pieces)),
                            std::make_tuple(status, request.version()));
    finish(response);
    response.prepare_payload();
    return response;
  }
  FileResponse response(std::piecewise_construct,
                        std::make_tuple(std::get<http::file_body::value_type>(std::move(*bytes))),
                        std::make_tuple(status, request.version()));
  finish(response);
  response.prepare_payload();
  return response;
}

}  // namespace heartpage::server
