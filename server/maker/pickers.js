// A picker of her own file beside an address field: the file chosen, made
// light when it is a picture, sent with its progress shown, and the field
// then holding the file's address on the site, with a thumbnail.

import { Refused } from './api.js';
import { makeLight, sendFile } from './media.js';
import { ownerKey } from './owner.js';

// A file's own refusals, in the desktop program's words.
const FILE_MESSAGES = {
  413: '文件太大，超过了服务器允许的大小！',
  415: '文件类型不支持，请选择图片、音乐或视频文件！',
};

const KINDS = {
  picture: { accept: 'image/*', caption: '选择照片' },
  music: { accept: 'audio/*,.mp3,.m4a,.aac,.ogg', caption: '选择音乐' },
  video: { accept: 'video/*', caption: '选择视频' },
};

function element(tag, attributes = {}, text = '') {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text) node.textContent = text;
  return node;
}

// The picker's parts for the address box `input` of a field of `kind`;
// `commit(address)` puts an uploaded file's address in the field.
export function filePicker(kind, input, commit) {
  const { accept, caption } = KINDS[kind];
  const wrap = element('div', { class: 'pick' });
  const fileId = `${input.id}-file`;
  const file = element('input', { type: 'file', id: fileId, accept, class: 'file' });
  const label = element('label', { for: fileId, class: 'button' }, caption);
  const progress = element('progress', { max: '1', value: '0', 'aria-label': `${caption}的上传进度` });
  progress.hidden = true;
  const said = element('p', { class: 'rule', role: 'status' });
  const thumbnail = element('img', { alt: '', class: 'thumb', width: '64', height: '64' });
  thumbnail.hidden = true;
  let shownUrl = '';

  const show = (source) => {
    if (shownUrl) URL.revokeObjectURL(shownUrl);
    shownUrl = source.startsWith('blob:') ? source : '';
    thumbnail.src = source;
    thumbnail.hidden = false;
  };
  // A picture of this site's own shows as it is, chosen before or not.
  const showAddress = () => {
    if (kind !== 'picture') return;
    try {
      const address = new URL(input.value);
      if (address.origin === location.origin) return show(address.href);
    } catch {
      // Not an address yet.
    }
    thumbnail.hidden = true;
  };
  input.addEventListener('change', showAddress);
  showAddress();

  file.addEventListener('change', async () => {
    const chosen = file.files?.[0];
    file.value = '';
    if (!chosen) return;
    said.className = 'rule';
    let blob = chosen;
    if (kind === 'picture') {
      said.textContent = '正在处理照片…';
      const light = await makeLight(chosen);
      if (light.error) {
        said.className = 'problem';
        said.textContent = light.error;
        return;
      }
      blob = light.blob;
      show(URL.createObjectURL(blob));
    }
    said.textContent = '正在上传…';
    progress.value = 0;
    progress.hidden = false;
    try {
      const address = await sendFile(blob, ownerKey(), (share) => {
        progress.value = share;
      });
      input.value = address;
      commit(address);
      said.textContent = `已上传：${chosen.name}`;
    } catch (refusal) {
      said.className = 'problem';
      said.textContent = refusal.status === 0 ? '网络连接失败，请检查网络后重试！'
        : FILE_MESSAGES[refusal.status] ?? new Refused(refusal.status, refusal.line, refusal.retryAfter).message;
    } finally {
      progress.hidden = true;
    }
  });
  wrap.append(thumbnail, label, file, progress);
  return [wrap, said];
}
