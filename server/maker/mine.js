// "我的网页": the pages her key owns, what came back from each, their
// posters, and taking a page down or giving its name up. Everything comes
// from the program's own operations, asked with her key in the body.

import { post, Refused } from './api.js';
import { loadDraft, saveDraft } from './drafts.js';
import { hasOwnerKey, ownerKey } from './owner.js';
import { drawPoster, HELD_BACK_LINE, posterBlob } from './poster.js';
import { qrCode, qrSvg } from './qr.js';

// A new answer is learnt this soon while the maker is open.
const POLL_MS = 30000;
// What each page's newest answer was when last seen here, so that only a
// new one is told with a heart.
const KNOWN = 'heartpage.answers-known';

const $ = (id) => document.getElementById(id);
const pad = (n) => String(n).padStart(2, '0');

let pages = [];
const receipts = new Map();
let pollTimer = 0;

// ---- Times: the protocol's are UTC "YYYY-MM-DD HH:MM:SS"; she reads hers.

function fromUtc(utc) {
  const parts = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})$/.exec(utc ?? '');
  if (!parts) return null;
  const [, y, mo, d, h, mi, s] = parts.map(Number);
  return new Date(Date.UTC(y, mo - 1, d, h, mi, s));
}

// "12月8日 21:03"
function localTimeText(utc) {
  const time = fromUtc(utc);
  if (!time) return utc;
  return `${time.getMonth() + 1}月${time.getDate()}日 ${pad(time.getHours())}:${pad(time.getMinutes())}`;
}

// "2月14日 20:00", the year named too when it is not this one.
function openingText(utc) {
  const time = fromUtc(utc);
  if (!time) return utc;
  const year = time.getFullYear() === new Date().getFullYear() ? '' : `${time.getFullYear()}年`;
  return year + localTimeText(utc);
}

function storedText(utc) {
  const time = fromUtc(utc);
  if (!time) return '';
  return `发布于 ${time.getFullYear()}-${pad(time.getMonth() + 1)}-${pad(time.getDate())} ${pad(time.getHours())}:${pad(time.getMinutes())}`;
}

// ---- What came back, in the program's words.

const lastAnswer = (receipt) => receipt.answers.at(-1) ?? null;
const answerText = (answer) => `TA的回答：${answer.text}（${localTimeText(answer.time)}）`;

export function receiptText(receipt) {
  if (receipt.opened === 0 && receipt.answers.length === 0) return '还没有人打开';
  let text = `已打开 ${receipt.opened} 次`;
  if (receipt.last_opened) text += ` · 最近 ${localTimeText(receipt.last_opened)}`;
  if (!receipt.question) return text;
  const last = lastAnswer(receipt);
  if (!last) return `${text} · TA还没有回答`;
  // The answer's day goes without saying when it is the last opening's.
  const answered = fromUtc(last.time);
  const opened = fromUtc(receipt.last_opened);
  const sameDay = answered && opened && answered.toDateString() === opened.toDateString();
  const when = sameDay ? `${pad(answered.getHours())}:${pad(answered.getMinutes())}` : localTimeText(last.time);
  return `${text} · TA的回答：${last.text}（${when}）`;
}

// An earlier version's answer says which question it answers.
function earlierAnswerText(version, answer) {
  return (version.question ? `“${version.question}” ` : '') + answerText(answer);
}

export function earlierLines(receipt) {
  return receipt.earlier.map((version, i) => {
    const which = i === 0 ? '上一版：' : i === 1 ? '上上版：' : '更早：';
    const last = lastAnswer(version);
    return which + (last ? earlierAnswerText(version, last) : `已打开 ${version.opened} 次`);
  });
}

function newestAnswer(receipt) {
  const last = lastAnswer(receipt);
  if (last) return { key: `${last.time}|${last.choice}`, text: answerText(last) };
  for (const [i, version] of receipt.earlier.entries()) {
    const answer = lastAnswer(version);
    if (answer)
      return { key: `${answer.time}|${answer.choice}`, text: (i === 0 ? '上一版：' : '更早：') + earlierAnswerText(version, answer) };
  }
  return { key: '', text: '' };
}

function gateLines(receipt, now = Date.now()) {
  const lines = [];
  const opens = fromUtc(receipt.opens);
  if (opens) lines.push(`${opens.getTime() > now ? '将于' : '已于'} ${openingText(receipt.opens)} 开启`);
  if (receipt.has_code) lines.push('需要口令才能打开');
  return lines;
}

function heldBack(receipt, now = Date.now()) {
  const opens = fromUtc(receipt.opens);
  return receipt.has_code || (opens !== null && opens.getTime() > now);
}

// What "确认上传" will keep of the page it replaces, as the program says it.
export async function replaceWarning(name) {
  try {
    const receipt = await post('receipts', { key: ownerKey(), name });
    if (!receipt.question || (receipt.opened === 0 && receipt.answers.length === 0)) return '将替换当前网页';
    return `将替换当前网页（${receipt.answers.length ? 'TA的回答会保留' : '打开记录会保留'}）`;
  } catch {
    return '将替换当前网页';
  }
}

// ---- The heart: a new answer, told once.

function known() {
  try {
    return JSON.parse(localStorage.getItem(KNOWN) ?? '{}') ?? {};
  } catch {
    return {};
  }
}

function learn(name, receipt) {
  const newest = newestAnswer(receipt);
  const seen = known();
  const before = seen[name];
  seen[name] = newest.key;
  localStorage.setItem(KNOWN, JSON.stringify(seen));
  // A page first seen here tells nothing: what it had is not news.
  if (before !== undefined && newest.key && newest.key !== before) showHeart(newest.text);
}

function showHeart(text) {
  const heart = $('heart');
  heart.textContent = `❤ ${text}`;
  heart.hidden = false;
}

// ---- The list.

function element(tag, attributes = {}, text = '') {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text) node.textContent = text;
  return node;
}

function button(text, onClick, plain = false) {
  const node = element('button', { type: 'button', class: plain ? 'secondary' : '' }, text);
  node.addEventListener('click', onClick);
  return node;
}

function say(text) {
  $('mine-status').textContent = text;
}

function draftOf(name) {
  for (let style = 1; style <= 8; style += 1) {
    const draft = loadDraft(style);
    if (draft?.name?.toLowerCase() === name) return style;
  }
  return 0;
}

// Asked in the page, never by the browser's own box: "确定" does it.
function ask(question, confirmText) {
  const dialog = $('mine-ask');
  $('mine-ask-text').textContent = question;
  $('mine-ask-yes').textContent = confirmText;
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'yes'), { once: true });
  });
}

async function act(operation, name, done) {
  try {
    await post(operation, { key: ownerKey(), name });
    say(done);
  } catch (error) {
    say(error instanceof Refused ? error.message : String(error));
  }
  await refresh();
}

async function takeDown(entry) {
  if (await ask('确定撤下网页吗？撤下后对方将无法打开。', '撤下网页'))
    await act('takedown', entry.name, '网页已撤下！');
}

async function release(entry) {
  const question = `放弃名字“${entry.name}”：当前网页会被删除，TA的回答将一并删除，${entry.address} 将无法打开，这个名字也可能被别人使用。确定要放弃吗？`;
  if (await ask(question, '放弃名字')) await act('release', entry.name, '名字已放弃！');
}

// "YYYY-MM-DDTHH:MM" in her time, as the form's moment picker holds it.
function localMinute(utc) {
  const time = fromUtc(utc);
  if (!time) return '';
  return `${time.getFullYear()}-${pad(time.getMonth() + 1)}-${pad(time.getDate())}T${pad(time.getHours())}:${pad(time.getMinutes())}`;
}

// The page's draft when this browser has one; else what the server reads
// back out of the page online becomes its draft. The code is never read
// back: a page that has one asks for it again before it is published.
async function edit(entry) {
  let style = draftOf(entry.name);
  if (!style) {
    try {
      const kept = await post('fields', { key: ownerKey(), name: entry.name });
      style = kept.style;
      saveDraft(style, {
        fields: kept.fields, checked: false, name: entry.name,
        opens: localMinute(kept.opens), code: '', hint: kept.hint,
      });
    } catch (error) {
      return say(error instanceof Refused ? error.message : String(error));
    }
  }
  location.assign(`/make?style=${style}`);
}

async function copyAddress(entry) {
  try {
    await navigator.clipboard.writeText(entry.address);
  } catch {
    // The address stays selectable beside the button.
  }
  say('网址已复制,去发给您的TA展示一下吧!');
}

// ---- The poster.

function loadImage(source) {
  return new Promise((resolve) => {
    const image = new Image();
    image.onload = () => resolve(image);
    image.onerror = () => resolve(null);
    image.src = source;
  });
}

function unescaped(text) {
  const named = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0' };
  return text.replace(/&(#x[0-9a-f]+|#[0-9]+|[a-z]+);/gi, (whole, code) => {
    if (code[0] !== '#') return named[code.toLowerCase()] ?? whole;
    const point = code[1] === 'x' || code[1] === 'X' ? parseInt(code.slice(2), 16) : parseInt(code.slice(1), 10);
    return point > 0 && point <= 0x10ffff ? String.fromCodePoint(point) : whole;
  });
}

// The page as published, read the way the program reads the built page:
// its style, the sender's own pictures, its line.
async function posterContent(entry, receipt) {
  const content = {
    address: entry.address,
    site: `HeartPage 表白网页 · ${location.host}`,
    line: HELD_BACK_LINE,
    picture: null,
    opening: '',
    heldBack: heldBack(receipt),
  };
  const opens = fromUtc(receipt.opens);
  if (opens && opens.getTime() > Date.now()) content.opening = `${openingText(receipt.opens)} 开启`;
  // Nothing of the page's before it opens: not its words, not its photo,
  // nor the style's artwork with its sample couple's names.
  if (content.heldBack) return content;
  const response = await fetch(`/Test/${entry.name}`, { credentials: 'omit' });
  const html = new TextDecoder('gbk').decode(await response.arrayBuffer());
  // Read as text, never parsed into a document: the page's own markup is
  // nothing for the maker's policy to judge.
  const card = unescaped(/<meta name="description" content="([^"]*)"/i.exec(html)?.[1] ?? '');
  const title = unescaped(/<title>([^<]*)<\/title>/i.exec(html)?.[1] ?? '');
  const first = card.split(/\r?\n/).map((line) => line.trim()).find(Boolean) ?? '';
  content.line = (first || title.trim()).replace(/\n/g, ' ');
  const media = new RegExp(`${location.origin}/media/[0-9a-f]+\\.(?:jpe?g|png|gif|webp)`, 'gi');
  for (const own of new Set(html.match(media) ?? [])) {
    content.picture = await loadImage(own.replace(location.origin, ''));
    if (content.picture) return content;
  }
  const style = /\/biaobai\/fg([1-8])/i.exec(html)?.[1];
  // The link card's picture, drawn large and without sample words, as the
  // program's poster draws it.
  if (style) content.picture = await loadImage(`/biaobai/cards/style${style}.jpg`);
  return content;
}

async function poster(entry) {
  say('正在制作海报…');
  try {
    const canvas = await drawPoster(await posterContent(entry, receipts.get(entry.name)));
    return new File([await posterBlob(canvas)], `${entry.name}-poster.png`, { type: 'image/png' });
  } catch {
    say('海报保存失败！');
    return null;
  }
}

async function savePoster(entry) {
  const file = await poster(entry);
  if (!file) return;
  const link = element('a', { download: file.name, href: URL.createObjectURL(file) });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  say('海报已保存！');
}

async function sharePoster(entry) {
  const file = await poster(entry);
  if (!file) return;
  try {
    await navigator.share({ files: [file], title: '表白网页', text: entry.address });
    say('');
  } catch (error) {
    if (error?.name !== 'AbortError') say('海报分享失败，请先保存海报再发送');
    else say('');
  }
}

const canShareFiles = () =>
  typeof navigator.canShare === 'function' &&
  navigator.canShare({ files: [new File([''], 'poster.png', { type: 'image/png' })] });

function receiptLines(item, entry) {
  const receipt = receipts.get(entry.name);
  const box = item.querySelector('.receipt');
  // A page not online has nothing coming back to show.
  if (!receipt || !box) return;
  box.replaceChildren();
  const gate = item.querySelector('.gate');
  const lines = gateLines(receipt);
  gate.textContent = lines.length ? `TA打开时：${lines.join(' · ')}` : '';
  if (receipt.question) box.append(element('p', { class: 'question' }, `问题：${receipt.question}`));
  box.append(element('p', { class: 'answer' }, receiptText(receipt)));
  if (receipt.first_opened)
    box.append(element('p', { class: 'rule' }, `第一次打开：${localTimeText(receipt.first_opened)}`));
  for (const line of earlierLines(receipt)) box.append(element('p', { class: 'earlier' }, line));
}

function pageItem(entry) {
  const online = Boolean(entry.stored);
  const item = element('li', { class: 'page', 'data-name': entry.name });
  item.append(element('h3', {}, entry.name));
  const state = element('p', { class: online ? 'online' : 'offline' },
    online ? `在线 · ${storedText(entry.stored)}` : '名字仍属于您，网页目前不在线上');
  item.append(state);
  if (online) {
    const qr = element('div', { class: 'qr' });
    qrCode(entry.address).then((code) => qr.append(qrSvg(code, `${entry.name} 的网址二维码`)), () => {});
    const address = element('input', { readonly: '', value: entry.address, 'aria-label': `${entry.name} 的网址` });
    item.append(qr, address);
    item.append(element('p', { class: 'gate' }));
    item.append(element('div', { class: 'receipt', role: 'status' }));
    const actions = element('div', { class: 'actions' });
    actions.append(button('复制网址', () => copyAddress(entry)));
    const open = element('a', { href: entry.address, target: '_blank', rel: 'noopener' }, '打开网页');
    actions.append(open, button('保存海报', () => savePoster(entry)));
    if (canShareFiles()) actions.append(button('分享', () => sharePoster(entry)));
    item.append(actions);
  }
  const manage = element('div', { class: 'actions' });
  if (online || draftOf(entry.name)) manage.append(button('修改并重新发布', () => edit(entry), true));
  if (online) manage.append(button('撤下网页', () => takeDown(entry), true));
  manage.append(button('放弃名字', () => release(entry), true));
  item.append(manage);
  receiptLines(item, entry);
  return item;
}

async function fetchReceipts() {
  for (const entry of pages) {
    if (!entry.stored) continue;
    try {
      const receipt = await post('receipts', { key: ownerKey(), name: entry.name });
      receipts.set(entry.name, receipt);
      learn(entry.name, receipt);
      const item = document.querySelector(`#mine-pages li[data-name="${entry.name}"]`);
      if (item) receiptLines(item, entry);
    } catch {
      // Asked again at the next turn.
    }
  }
}

const shape = (list) => JSON.stringify(list.map((entry) => [entry.name, entry.stored]));

// Her pages and what came back from them; the list drawn again only when
// its pages changed, so that a turn of the watch moves nothing under her
// finger.
async function load(draw = false) {
  if (!hasOwnerKey()) {
    pages = [];
  } else {
    try {
      const before = shape(pages);
      pages = (await post('mine', { key: ownerKey() })).pages;
      draw ||= shape(pages) !== before;
    } catch (error) {
      if (draw) say(error instanceof Refused ? error.message : String(error));
      return;
    }
    await fetchReceipts();
  }
  if (!draw || $('mine').hidden) return;
  $('mine-pages').replaceChildren(...pages.map(pageItem));
  $('mine-none').hidden = pages.length > 0;
}

function refresh() {
  return load(true);
}

function poll() {
  clearTimeout(pollTimer);
  pollTimer = setTimeout(async () => {
    if (document.visibilityState !== 'hidden') await load().catch(() => {});
    poll();
  }, POLL_MS);
}

function showMine() {
  for (const id of ['gallery', 'editor']) $(id).hidden = true;
  $('mine').hidden = false;
  history.replaceState(null, '', `${location.pathname}?mine`);
  $('mine-title').focus();
  refresh();
}

function hideMine() {
  $('mine').hidden = true;
  $('gallery').hidden = false;
  history.replaceState(null, '', location.pathname);
}

// Started by the maker at her first touch, or at once (`open`) when she
// came by her 管理链接 or to her pages.
export function start(open) {
  $('mine-back').addEventListener('click', hideMine);
  $('heart').addEventListener('click', () => ($('heart').hidden = true));
  $('mine-ask').addEventListener('cancel', () => ($('mine-ask').returnValue = 'no'));
  $('mine-title').tabIndex = -1;
  if (open) showMine();
  else load();
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') load();
  });
  poll();
}

export { showMine };
