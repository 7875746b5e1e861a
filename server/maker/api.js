// The site's answers to the maker: JSON both ways, and one short line when
// something is refused.

const MESSAGES = {
  400: '请求有误，请刷新页面后重试！',
  403: '这个名字属于别人，不能修改！',
  404: '服务器上没有这个网页！',
  409: '文件名已存在！',
  410: '网页已撤下或已过期！',
  413: '内容太多，超过了服务器允许的大小！',
  422: '网页内容不被接受',
  429: '操作太频繁，请稍后再试！',
  451: '该网页因违反使用规则已被撤下！',
  503: '服务器繁忙，请稍后再试！',
  507: '服务器空间不足，请稍后再试！',
};

export class Refused extends Error {
  constructor(status, line, retryAfter) {
    super(line);
    this.status = status;
    this.line = line;
    this.retryAfter = retryAfter;
  }

  // What she reads: the status in her words, and the server's own line
  // where it says more than the status does (a denied word, a bad moment).
  get message() {
    const words = MESSAGES[this.status] ?? (this.status >= 500 ? '服务器出错，请稍后再试！' : '请求失败');
    return this.status === 422 || this.status === 400 ? `${words}（${this.line}）` : words;
  }
}

export async function getStyles() {
  const response = await fetch('/api/styles');
  if (!response.ok) throw new Refused(response.status, await response.text(), 0);
  return response.json();
}

export async function post(operation, body) {
  let response;
  try {
    response = await fetch(`/api/make/${operation}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
      credentials: 'omit',
    });
  } catch {
    throw new Refused(0, '网络连接失败，请检查网络后重试！', 0);
  }
  const text = await response.text();
  let answer = null;
  try {
    answer = JSON.parse(text);
  } catch {
    // A limit in front of the maker's operations answers in plain text.
  }
  if (!response.ok) {
    const retry = Number(response.headers.get('Retry-After')) || 0;
    throw new Refused(response.status, answer?.error ?? text.trim(), retry);
  }
  return answer;
}
