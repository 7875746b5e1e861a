#include "pages/styles.h"

#include <array>
#include <stdexcept>

#include "pages/style_texts.h"
#include "protocol/host.h"

namespace heartpage {
namespace {

// Default addresses live on the publishing host; the token is bound when a
// default is read, so that a configured host reaches every address.
std::string OnHost(std::string_view path) {
  return "http://" + std::string(kHostToken) + std::string(path);
}

struct Row {
  int index;
  const char* caption;
  std::string default_text;
  const char* key;
  FieldKind kind = FieldKind::kText;
  int times = 1;
  bool heading = false;
};

constexpr FieldKind kText = FieldKind::kText;
constexpr FieldKind kMarkup = FieldKind::kMarkup;
constexpr FieldKind kPicture = FieldKind::kPicture;
constexpr FieldKind kMusic = FieldKind::kMusic;
constexpr FieldKind kVideo = FieldKind::kVideo;
constexpr FieldKind kYear = FieldKind::kYear;
constexpr FieldKind kMonth0 = FieldKind::kMonth0;
constexpr FieldKind kDay = FieldKind::kDay;
constexpr FieldKind kColour = FieldKind::kColour;
constexpr FieldKind kAddress = FieldKind::kAddress;
constexpr bool kHeading = true;

Style MakeStyle(int number, const char* caption, const char* control, bool has_check,
                std::initializer_list<Row> rows) {
  Style style{number, "FG" + std::to_string(number), caption, has_check, {}};
  for (const Row& row : rows)
    style.rows.push_back({control, row.index, row.caption, row.default_text, row.key, row.times,
                          row.kind, row.heading});
  return style;
}

Style Style1() {
  return MakeStyle(
      1, "MV+文字", "Text1", false,
      {
          {1, "对方名字：", "思雨", "对方名字"},
          {2, "名字后面想说的话：", "我喜欢你，不长，到我老去。", "名字后面想说的话"},
          {0, "网页标题：", "风格1", "浏览器标题"},
          {3, "第一行炫彩文字：", "我爱你，这是个不能说的秘密", "中间第一行炫彩文字"},
          {4, "第二行炫彩文字：", "我顶着大太阳，只想为你撑伞。——记录着第一次遇见的你！",
           "中间第二行炫彩文字"},
          {5, "鼠标跟随文字：", "我们约好 这个世界一起逛 ", "鼠标跟随文字"},
          {6, "鼠标右键提示：", "我爱你", "鼠标右键提示"},
          {7, "中间图片地址：", OnHost("/biaobai/fg1/center.jpg"), "中间图片地址", kPicture, 2},
          {8, "下方视频地址：", OnHost("/biaobai/fg1/mv.mp4"), "下方视频地址", kVideo},
          {9, "第一行：", "怎么办", "中间第一行"},
          {10, "第二行：", "怎么办我就是爱你", "中间第二行"},
          {11, "第三行：", "怎么办我就是想你", "中间第三行"},
          {12, "第四行：", "无论喝茶还是刷牙", "中间第四行"},
          {13, "第五行：", "想着你", "中间第五行"},
          {14, "第六行：", "怎么办我的心已经容不下", "中间第六行"},
          {15, "第七行：", "除了你没有其他", "中间第七行"},
      });
}

Style Style2() {
  return MakeStyle(
      2, "心形+文字+图片漂浮", "Text1", true,
      {
          {6, "漂浮图片地址：", OnHost("/biaobai/fg2/psb.jpg"), "图片地址1", kPicture},
          {7, "点击图片跳转地址：", OnHost("/"), "链接地址1", kAddress},
          {8, "背景音乐地址：", OnHost("/biaobai/fg2/bgm.mp3"), "音乐地址1", kMusic},
          {0, "网页标题：", "风格2", "浏览器标题"},
          {1, "开头署名：", "//亲爱的XXX：", "对方名字"},
          {2, "中间想对她（他）说的话：", std::string(detail::kStyle2Letter), "中间内容", kMarkup},
          {3, "心框内的话：", "XXX我们已经（相识、相知、相爱）了", "心框内容"},
          {4, "相识时间：", "2013", "年年", kYear},
          {9, "年", "5", "月月", kMonth0},
          {10, "月", "20", "日日", kDay},
          {5, "结尾署名或一句话：", "－－爱你的XXX", "最后署名"},
      });
}

Style Style3() {
  return MakeStyle(
      3, "心形树+图片漂浮+文字", "Text1", true,
      {
          {20, "漂浮图片地址：", OnHost("/biaobai/fg2/psb.jpg"), "图片地址1", kPicture},
          {21, "点击图片跳转地址：", OnHost("/"), "链接地址1", kAddress},
          {0, "第1行：", "* Our Story", "第1行", kText, 1, kHeading},
          {1, "第2行：", "Our Story 我们的故事", "第2行", kText, 1, kHeading},
          {2, "第3行：", "// 不经意相识, 或许是缘分，或许是注定的。", "第3行"},
          {3, "第4行：", "// 以后不管有怎么样，我都会在。", "第4行"},
          {4, "第5行：", "// 就算全世界都都抛弃你，记得还有我。", "第5行"},
          {5, "第6行：", "// 再累都不用害怕，因为你有我。", "第6行"},
          {6, "第7行：", "// 记得在你最需要的时候想起我", "第7行"},
          {7, "第8行：", "// 我会一直陪着你。", "第8行"},
          {8, "第9行：", "// You are my only girl..永远..", "第9行"},
          {9, "第10行：", "// 所以我继续等待，我有信心，你会。", "第10行"},
          {10, "你的署名：", "子墨", "你得署名"},
          {11, "背景音乐地址：", OnHost("/biaobai/FG3/bgm.mp3"), "背景音乐地址", kMusic},
          {12, "最下方署名：", "Varnel软件", "页面下方文字"},
          {13, "浏览器标题：", "风格3", "浏览器标题"},
          {14, "你的名字：", "子墨", "你的名字"},
          {15, "对方名字：", "思雨", "对方名字"},
          {16, "内容：", "已经相识了", "内容"},
          {17, "日期：", "2013", "年", kYear, 2},
          {18, "年", "10", "月", kMonth0, 2},
          {19, "月", "1", "日", kDay, 2},
      });
}

Style Style4() {
  return MakeStyle(
      4, "文本切换", "Text8", false,
      {
          {0, "第1行：", "\"思雨\"", "左第1行", kText, 1, kHeading},
          {1, "第2行：", "西湖", "左第2行"},
          {2, "第3行：", "第一次", "左第3行"},
          {3, "第4行：", "到了现在", "左第4行"},
          {4, "第5行：", "我想", "左第5行"},
          {5, "第6行：", "你开心,我开心", "左第6行"},
          {6, "第7行：", "如果你问我为什么喜欢你？", "左第7行"},
          {7, "第8行：", "我想陪你走过风风雨雨！", "左第8行"},
          {8, "第9行：", "如果", "左第9行"},
          {9, "第10行：", "你", "左第10行"},
          {10, "第1行：", "我喜欢你！你能做我的女朋友吗？如果可以就继续往下看,或者点击网页继续呢！",
           "右第1行"},
          {11, "第2行：", "是我们认识的地方,那是我们第一次见面", "右第2行"},
          {12, "第3行：", "见到你有一种说不出的感觉,那种感觉让我开心,让我满足", "右第3行"},
          {13, "第4行：", "我才知道,那种感觉叫做“喜欢”", "右第4行"},
          {14, "第5行：", "做你影子.这样我们就能天天在一起了", "右第5行"},
          {15, "第6行：", "你不开心.我逗你开心,你烦恼,我替你解决,不痛快,我替你承受", "右第6行"},
          {16, "第7行：", "我会说：“因为你是我的全部”！", "右第7行"},
          {17, "第8行：", "我想我们的爱情没有保质期,永远是认识的第一天的幸福！", "右第8行"},
          {18, "第9行：", "我的存在为你带来一丝负担", "右第9行"},
          {19, "第10行：", "只需轻轻吹一口气", "右第10行"},
          {20, "第11行：", "我", "左第11行"},
          {21, "第12行：", "因为", "左第12行"},
          {22, "第13行：", "如果有来世", "左第13行"},
          {23, "第14行：", "在你照镜子的时候 ", "左第14行"},
          {24, "第15行：", "夜有多长", "左第15行"},
          {25, "第16行：", "泪长爱更长", "左第16行"},
          {26, "第17行：", "守护", "左第17行"},
          {27, "第18行：", "为你", "左第18行"},
          {28, "第19行：", "爱你", "左第19行"},
          {29, "第20行：", "思雨我喜欢你！！！", "左第20行"},
          {30, "第11行：", "就会随风飘去", "右第11行"},
          {31, "第12行：", "爱不是负担", "右第12行"},
          {32, "第13行：", "我愿意做你的瞳孔！", "右第13行"},
          {33, "第14行：", "可以把你最深情的注视给我！", "右第14行"},
          {34, "第15行：", "泪有多长", "右第15行"},
          {35, "第16行：", "风雨无阻追随你跨过了一个世纪!我们在缘份的海洋中扬帆前进!", "右第16行"},
          {36, "第17行：", "你是我今生的选择！", "右第17行"},
          {37, "第18行：", "我今生无怨无悔！", "右第18行"},
          {38, "第19行：", "一生不变!", "右第19行"},
          {39, "第20行：", "爱你的：子墨", "右第20行"},
          {40, "浏览器标题：", "风格4", "浏览器标题"},
          {41, "尾页顶部图：", OnHost("/biaobai/fg4/1.png"), "尾面顶部图", kPicture},
          {42, "背景音乐：", OnHost("/biaobai/fg4/bgm.mp3"), "背景音乐", kMusic},
          {43, "背景颜色：", "#B85C00", "背景颜色", kColour, 2},
          {44, "文字颜色：", "#FFF", "文字颜色", kColour},
      });
}

Style Style5() {
  return MakeStyle(
      5, "打字特效+文字漂浮+MV", "Text11", false,
      {
          {0, "第1行：", "自从你出现后,我才知道原来有人爱是那么的美好", "左第1行"},
          {1, "第2行：", "感谢上天让我遇见了你,知道吗？遇见你是我最大的幸福,遇见你是我永远的快乐",
           "左第2行"},
          {2, "第3行：", "我愿意把我最美好的回忆送给你,我要你开开心心每一天", "左第3行"},
          {3, "第4行：", "这辈子有你，我很开心，如果你愿意，我们一起走入婚礼殿堂", "左第4行"},
          {4, "第5行：", "我手持鲜花，单膝下跪，说“嫁给我吧~”我在想那天你一定幸福死了", "左第5行"},
          {5, "第6行：", "我，即便是50年之后也不会改变，我仍然会象现在这样爱你！", "左第6行"},
          {6, "第7行：", "我爱你，不需要太多的言语去修饰，我要你幸福", "左第7行"},
          {7, "你的名字：", "子墨", "左第8行"},
          {8, "Q Q：", "123456789", "左第9行", kText, 2},
          {9, "", "一直以来我不懂的什么是爱", "左第10行"},
          {10, "", "      遇到你我才懂的爱", "左第11行"},
          {11, "您爱人的姓名或小名（限两个字）", "思", "左第12行", kText, 6},
          {12, "+", "雨", "左第13行", kText, 6},
          {13, "视频地址：", OnHost("/biaobai/fg5/mv.mp4"), "左第14行", kVideo},
          {14, "鼠标跟随文字：", "喂，我爱你", "左第15行"},
          {15, "网站标题：", "风格5", "左第16行"},
          {16, "首行标题：", "喂，我爱你", "左第17行", kText, 2},
          {17, "添加自己的HTML代码：", "", "左第18行", kMarkup},
      });
}

Style Style6() {
  Style style = MakeStyle(6, "3D画册", "Text7", false, {});
  for (int i = 0; i < 12; ++i) {
    const std::string n = std::to_string(i + 1);
    style.rows.push_back({"Text7", i, "第" + n + "张：", OnHost("/biaobai/fg6/" + n + ".jpg"),
                          "第" + n + "张", 1, FieldKind::kPicture});
  }
  const Style rest =
      MakeStyle(6, "", "Text7", false,
                {
                    {12, "浏览器标题：", "风格6--3D相册", "浏览器标题"},
                    {13, "背景音乐地址：", OnHost("/biaobai/fg6/bgm.mp3"), "背景音乐地址", kMusic},
                    {14, "顶部话语大字：", "谨以此页来纪念我们之间的爱", "大字"},
                    {15, "顶部话语小字：", "思雨，我们约好 这个世界一起逛 ......by:子墨", "小字"},
                    {16, "鼠标右键提示语：", "向全世界宣布我爱你！", "鼠标右键"},
                    {17, "背景颜色：", "#FFCBB3", "背景颜色", kColour, 2},
                });
  style.rows.insert(style.rows.end(), rest.rows.begin(), rest.rows.end());
  return style;
}

// The story's keys are spread over its 55 pages in ascending order; these are
// the number of keys on each page (the title, field 78, is on none).
constexpr std::array<int, 55> kStyle7KeysPerPage = {
    3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 3, 1, 1, 1, 1, 1, 1, 2, 1, 2, 2, 4, 4, 2, 2, 1, 4, 1, 1, 1, 2};

Style Style7() {
  Style style{7, "FG7", "阿狸心形表白", false, {}};
  int field = 0;
  for (int page = 1; page <= static_cast<int>(kStyle7KeysPerPage.size()); ++page) {
    for (int k = 0; k < kStyle7KeysPerPage[page - 1]; ++k, ++field)
      // The first page is the story's cover: the two names and a motto.
      style.rows.push_back({"Text1", field, "第" + std::to_string(page) + "张图",
                            std::string(detail::kStyle7Story[field]),
                            "第" + std::to_string(field) + "张", 1, kText, page == 1});
  }
  style.rows.push_back({"Text1", field, "标题", std::string(detail::kStyle7Story[field]),
                        "第" + std::to_string(field) + "张", 1});
  return style;
}

Style Style8() {
  static constexpr std::array<const char*, 21> kDefaults = {"老婆我爱你（宣告你的爱情把）",
                                                            "",
                                                            "老婆 我爱你",
                                                            "(我要宣告我的爱!)",
                                                            "老婆，希望你能够看完它",
                                                            "那些美好的回忆",
                                                            "(挥之不去)",
                                                            "从看到你的第一眼我就深深的爱上了你",
                                                            "一直幻想的以后",
                                                            "(那么甜美)",
                                                            "那时候我就决定了，要一辈子照顾你",
                                                            "我要永远的爱你",
                                                            "(守住誓言)",
                                                            "早晨晚上都有你的陪伴",
                                                            "今生今世永不分离",
                                                            "(一辈子爱你)",
                                                            "我们过着平凡的生活",
                                                            "老婆我会永远爱着你",
                                                            "（直到永远）",
                                                            "老公",
                                                            "一直白头到老"};
  static constexpr std::array<const char*, 6> kPages = {"一", "二", "三", "四", "五", "六"};
  Style style{8, "FG8", "上下翻页+图片+文字", false, {}};
  for (int i = 0; i < static_cast<int>(kDefaults.size()); ++i) {
    std::string caption;
    if (i == 0) {
      caption = "网站标题：";
    } else if (i == 1) {
      caption = "背景音乐：";
    } else {
      // Pages 1 to 5 have two side lines and a middle text; page 6 has three side lines.
      const int page = std::min((i - 2) / 3, 5);
      const bool middle = i == 20 || (i < 17 && (i - 2) % 3 == 2);
      caption = std::string("第") + kPages[page] + (middle ? "页中间内容：" : "页左侧文字：");
    }
    std::string default_text = i == 1 ? OnHost("/biaobai/fg8/bgm.mp3") : kDefaults[i];
    style.rows.push_back({"Text1", i, caption, default_text, "第" + std::to_string(i) + "张",
                          i == 1 ? 2 : 1, i == 1 ? FieldKind::kMusic : FieldKind::kText});
  }
  return style;
}

}  // namespace

std::string_view FieldKindName(FieldKind kind) {
  switch (kind) {
    case FieldKind::kText:
      return "text";
    case FieldKind::kMarkup:
      return "markup";
    case FieldKind::kPicture:
      return "picture";
    case FieldKind::kMusic:
      return "music";
    case FieldKind::kVideo:
      return "video";
    case FieldKind::kYear:
      return "year";
    case FieldKind::kMonth0:
      return "month0";
    case FieldKind::kDay:
      return "day";
    case FieldKind::kColour:
      return "colour";
    case FieldKind::kAddress:
      return "address";
  }
  return "text";
}

std::string FieldRow::Name() const {
  return control + "(" + std::to_string(index) + ")";
}

std::string FieldRow::DefaultValue() const {
  return BindHost(default_text);
}

const Style& GetStyle(int number) {
  static const std::array<Style, kStyleCount> styles = {Style1(), Style2(), Style3(), Style4(),
                                                        Style5(), Style6(), Style7(), Style8()};
  if (number < 1 || number > kStyleCount)
    throw std::out_of_range("no style " + std::to_string(number) + "; styles are 1 to 8");
  return styles[number - 1];
}

std::string_view GalleryName(int number) {
  static constexpr std::array<std::string_view, kStyleCount> names = {
      "文字+MV效果", "心形+图片飘浮", "心形树+漂浮图片", "文本切换效果",
      "打字特效+MV", "3D画册效果",    "阿狸心形表白",    "数字时钟效果"};
  if (number < 1 || number > kStyleCount)
    throw std::out_of_range("no style " + std::to_string(number) + "; styles are 1 to 8");
  return names[static_cast<std::size_t>(number - 1)];
}

const FieldRow* FindField(const Style& style, std::string_view name) {
  for (const FieldRow& row : style.rows)
    if (row.Name() == name) return &row;
  return nullptr;
}

int StyleOfPage(std::string_view page) {
  constexpr std::string_view kAssets = "/biaobai/";
  for (std::size_t at = page.find(kAssets); at != std::string_view::npos;
       at = page.find(kAssets, at + 1)) {
    const std::string_view folder = page.substr(at + kAssets.size(), 4);
    if (folder.size() == 4 && (folder[0] | 0x20) == 'f' && (folder[1] | 0x20) == 'g' &&
        folder[2] >= '1' && folder[2] <= '8' && folder[3] == '/')
      return folder[2] - '0';
  }
  return 0;
}

}  // namespace heartpage
