#include "publish/answer_messages.h"

#include "publish/upload.h"

namespace heartpage {

std::string_view MessageForStatus(long status) {
  switch (status) {
    case 200:
      return upload_text::kUploaded;
    case 400:
      return "请求有误，请升级程序后重试！";
    case 403:
      return "这个网页属于另一台电脑，不能修改！";
    case 404:
      return "服务器上没有这个网页！";
    case 409:
      return upload_text::kNameTaken;
    case 410:
      return "网页已撤下或已过期！";
    case 413:
      return "文件太大，超过了服务器允许的大小！";
    case 415:
      return "文件类型不支持，请选择图片、音乐或视频文件！";
    case 429:
      return "操作太频繁，请稍后再试！";
    case 503:
      return "服务器繁忙，请稍后再试！";
    case 507:
      return "服务器空间不足，请稍后再试！";
    default:
      return upload_text::kUploadFailed;
  }
}

}  // namespace heartpage
