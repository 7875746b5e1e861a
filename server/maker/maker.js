// The maker: the gallery, a style's form with its live preview, and
// publishing under a name of her own.

import { getStyles, post, Refused } from './api.js';
import { adoptFromAddress, manageLink, ownerKey, takeFirstShowing } from './owner.js';

// Her last key, then this long, then the preview: a phone types in bursts.
const PREVIEW_DELAY_MS = 100;
const NAME_DELAY_MS = 300;
// The checks wait for a longer pause: what she is still typing is no finding.
const CHECK_DELAY_MS = 700;
const NAME_RULE = /^[A-Za-z0-9]{1,30}$/;

const $ = (id) => document.getElementById(id);

let table = null;
let style = null;
let state = null;
let owned = null; // the names her key owns, once asked
let previewTimer = 0;
let nameTimer = 0;
let pending = null; // the preview frame still loading
let previews = 0;
let stale = false; // typed into since the pending preview was asked for
let checkTimer = 0;
// The form's and the drafts' code, which come with her first tap on a style,
// not with the gallery.
let forms = null;
let weighed = ''; // the findings she was shown at her last tap on 确认上传

function say(id, text) {
  $(id).textContent = text;
}

// Each preview loads into a frame of its own, shown once it has loaded in
// place of the one before: no flicker, and since a new frame's first page
// replaces its blank one, no entry in the history for Back to step through.
function loadPreview() {
  // One at a time: what she typed meanwhile goes in the next, as soon as
  // this one shows.
  if (pending) {
    stale = true;
    return;
  }
  const shown = $('preview');
  const frame = document.createElement('iframe');
  previews += 1;
  frame.name = `preview${previews}`;
  frame.title = '网页预览';
  frame.className = 'loading';
  frame.setAttribute('sandbox', 'allow-scripts');
  const swap = () => {
    // The blank page a new frame starts with loads too, and is ours to
    // read; the preview, in an origin of its own, is not.
    if (pending !== frame || frame.contentDocument) return;
    frame.removeEventListener('load', swap);
    pending = null;
    shown.remove();
    frame.id = 'preview';
    frame.className = '';
    if (stale) {
      stale = false;
      loadPreview();
    }
  };
  frame.addEventListener('load', swap);
  shown.after(frame);
  pending = frame;
  const form = $('preview-form');
  form.target = frame.name;
  form.elements.json.value = JSON.stringify({ style: style.number, fields: state.fields, checked: state.checked });
  form.submit();
}

function showPreview() {
  clearTimeout(previewTimer);
  previewTimer = setTimeout(loadPreview, PREVIEW_DELAY_MS);
}

// The checks' findings of what the form holds now, each under its field;
// none when the site cannot be asked (the store is checked there anyway).
async function check() {
  const { findings, showFindings } = await import('./checks.js');
  try {
    const found = await findings(style.number, state);
    return { found, unplaced: showFindings($('fields'), found) };
  } catch {
    return { found: [], unplaced: [] };
  }
}

function changed() {
  forms.saveDraft(style.number, state);
  showPreview();
  clearTimeout(checkTimer);
  checkTimer = setTimeout(check, CHECK_DELAY_MS);
}

async function openStyle(number, focus = true) {
  const chosen = table.styles.find((entry) => entry.number === number);
  if (!chosen) return;
  if (!forms) {
    const [form, drafts] = await Promise.all([import('./form.js'), import('./drafts.js')]);
    forms = { ...form, ...drafts };
  }
  style = chosen;
  $('gallery').hidden = true;
  $('editor').hidden = false;
  say('style-title', style.name);
  state = forms.buildForm($('fields'), style, table.question, forms.loadDraft(number), changed);
  $('page-name').value = state.name ?? '';
  say('status', '');
  say('name-state', '');
  $('published').hidden = true;
  history.replaceState({ style: number }, '', `${location.pathname}?style=${number}`);
  showPreview();
  // A draft brought back is checked as it stands.
  clearTimeout(checkTimer);
  checkTimer = setTimeout(check, CHECK_DELAY_MS);
  if (focus) $('style-title').focus();
}

function showGallery() {
  $('editor').hidden = true;
  $('gallery').hidden = false;
  history.replaceState(null, '', location.pathname);
  document.querySelector('.gallery button')?.focus();
}

function buildGallery() {
  const list = $('styles');
  for (const entry of table.styles) {
    const item = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    const image = document.createElement('img');
    image.src = entry.artwork;
    image.alt = '';
    image.width = 300;
    image.height = 155;
    image.decoding = 'async';
    const name = document.createElement('span');
    name.textContent = entry.name;
    button.append(image, name);
    button.addEventListener('click', () => openStyle(entry.number));
    item.append(button);
    list.append(item);
  }
}

async function ownedNames() {
  if (!owned) owned = (await post('owned', { key: ownerKey() })).names;
  return owned;
}

function checkName() {
  clearTimeout(nameTimer);
  const name = $('page-name').value.trim();
  if (state) {
    state.name = name;
    forms.saveDraft(style.number, state);
  }
  if (!name) return say('name-state', '');
  if (!NAME_RULE.test(name)) return say('name-state', '文件名只能为字母或数字，不能是中文或带有标点符号！');
  nameTimer = setTimeout(async () => {
    try {
      const key = name.toLowerCase();
      if ((await ownedNames()).includes(key)) return say('name-state', await (await startMine(false)).replaceWarning(key));
      const { taken } = await post('name', { name: key });
      if ($('page-name').value.trim() === name) say('name-state', taken ? '文件名已存在！' : '这个名字可以使用');
    } catch (error) {
      say('name-state', error instanceof Refused ? error.message : String(error));
    }
  }, NAME_DELAY_MS);
}

async function upload() {
  const name = $('page-name').value.trim();
  if (!name) return say('status', '文件名不能为空！');
  if (!NAME_RULE.test(name)) return say('status', '文件名只能为字母或数字，不能是中文或带有标点符号！');
  const button = $('upload');
  button.disabled = true;
  clearTimeout(checkTimer);
  const { found } = await check();
  const { findingLine } = await import('./checks.js');
  const lines = found.map(findingLine);
  // As the program does: what the site would refuse stops here; the rest is
  // hers to weigh, and a second tap goes on regardless.
  if (found.some((finding) => finding.blocks)) {
    button.disabled = false;
    weighed = '';
    return say('status', `请检查以下内容：${lines.join('；')}`);
  }
  if (lines.length && weighed !== lines.join()) {
    button.disabled = false;
    weighed = lines.join();
    return say('status', `请检查以下内容：${lines.join('；')}。仍要上传，请再点一次“确认上传”。`);
  }
  weighed = '';
  say('status', '正在上传…');
  try {
    const key = ownerKey();
    const lower = name.toLowerCase();
    if (!(await ownedNames()).includes(lower)) {
      await post('claim', { key, name: lower });
      owned.push(lower);
    }
    const { address } = await post('store', {
      key,
      name: lower,
      style: style.number,
      fields: state.fields,
      checked: state.checked,
      opens: forms.utcOfLocal(state.opens),
      code: state.code,
      hint: state.code ? state.hint : '',
    });
    say('status', '上传成功！');
    $('address').value = address;
    $('open').href = address;
    $('published').hidden = false;
    const codes = [showQr($('address-qr'), address, '网页网址的二维码')];
    if (takeFirstShowing()) {
      $('manage-link').value = manageLink();
      $('manage').hidden = false;
      codes.push(showQr($('manage-qr'), manageLink(), '管理链接的二维码'));
    }
    await Promise.all(codes);
  } catch (error) {
    say('status', error instanceof Refused ? error.message : String(error));
  } finally {
    button.disabled = false;
  }
}

// The QR code of `text` into `box`, for a phone's camera; the encoder comes
// with the first publish, not with the gallery.
async function showQr(box, text, label) {
  box.replaceChildren();
  try {
    const { qrCode, qrSvg } = await import('./qr.js');
    box.append(qrSvg(await qrCode(text), label));
  } catch {
    // The address is there to copy all the same.
  }
}

async function copy(inputId, done) {
  const text = $(inputId).value;
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    $(inputId).select();
  }
  say('status', done);
}

// 我的网页, and its watch over her answers, come with her first touch, or at
// once when she came by her 管理链接 or to her pages: the gallery stays light.
let mine = null;
function startMine(open) {
  mine ??= import('./mine.js').then((module) => {
    module.start(open);
    return module;
  });
  return mine;
}

async function start() {
  const adopted = adoptFromAddress();
  $('mine-open').addEventListener('click', () => startMine(false).then((m) => m.showMine()));
  if (adopted || new URLSearchParams(location.search).has('mine')) startMine(true);
  else
    for (const type of ['pointerdown', 'keydown'])
      addEventListener(type, () => startMine(false), { once: true, capture: true });
  try {
    table = await getStyles();
  } catch {
    say('load-status', '无法连接服务器，请稍后刷新重试');
    return;
  }
  buildGallery();
  $('back').addEventListener('click', showGallery);
  $('page-name').addEventListener('input', checkName);
  $('upload').addEventListener('click', upload);
  $('copy').addEventListener('click', () => copy('address', '网址已复制,去发给您的TA展示一下吧!'));
  $('copy-manage').addEventListener('click', () => copy('manage-link', '管理链接已复制，请妥善保存'));
  $('style-title').tabIndex = -1;
  const chosen = Number(new URLSearchParams(location.search).get('style'));
  if (chosen) openStyle(chosen, false);
}

start();
