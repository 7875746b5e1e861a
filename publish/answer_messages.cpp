#include "publish/answer_messages.h"

#include "protocol/wire.h"
#include "publish/upload.h"

namespace heartpage {

std::string_view MessageForStatus(long status) {
  switch (status) {
    case wire::status::kOk:
      return upload_text::kUploaded;
    case wire::status::kMalformed:
      return "请求有误，请升级程序后重试！";
    case wire::status::kNotYours:
      return "这个网页属于另一台电脑，不能修改！";
    case wire::status::kUnknown:
      return "服务器上没有这个网页！";
    case wire::status::kTaken:
      return upload_text::kNameTaken;
    case wire::status::kGone:
      return "网页已撤下或已过期！";
    case wire::status::kTooLarge:
      return "文件太大，超过了服务器允许的大小！";
    case wire::status::kWrongType:
      return "文件类型不支持，请选择图片、音乐或视频文件！";
    case wire::status::kUnacceptable:
      return "不是本程序生成的网页";
    case wire::status::kTooMany:
      return "操作太频繁，请稍后再试！";
    case wire::status::kWithdrawn:
      return "该网页因违反使用规则已被撤下！";
    case wire::status::kBusy:
      return "服务器繁忙，请稍后再试！";
    case wire::status::kOutOfSpace:
      return "服务器空间不足，请稍后再试！";
    default:
      // The server answered, so its network is not what failed.
      if (status >= 500) return "服务器出错，请稍后再试！";
      return upload_text::kUploadFailed;
  }
}

}  // namespace heartpage
