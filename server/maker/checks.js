// The desktop program's checks before an upload, made by the site with the
// program's own code and words, shown under the field each is about. The
// moment is the phone's to judge, on its own clock and in its own time.

import { post } from './api.js';

const pad = (n) => String(n).padStart(2, '0');

// "2月14日 20:00", the year named too when it is not this one's.
function openingText(moment, now) {
  const day = `${moment.getMonth() + 1}月${moment.getDate()}日 ${pad(moment.getHours())}:${pad(moment.getMinutes())}`;
  return moment.getFullYear() === now.getFullYear() ? day : `${moment.getFullYear()}年${day}`;
}

function momentFindings(opens, now) {
  if (!opens) return [];
  const moment = new Date(opens);
  if (Number.isNaN(moment.getTime()) || moment > now) return [];
  return [{ caption: '定时开启', reason: `${openingText(moment, now)} 已经过去，网页会立即开启`, blocks: false }];
}

// Everything the checks find in `state` of `style`; throws Refused.
export async function findings(style, state, now = new Date()) {
  const { findings: found } = await post('check', {
    style, fields: state.fields, checked: state.checked, code: state.code, hint: state.code || state.hint ? state.hint : '',
  });
  return [...found, ...momentFindings(state.opens, now)];
}

// Each finding under its field (the one whose label is its caption), those
// of before taken away; the findings no field shows are answered.
export function showFindings(form, found) {
  for (const old of form.querySelectorAll('.finding')) old.remove();
  for (const input of form.querySelectorAll('[aria-invalid]')) input.removeAttribute('aria-invalid');
  const unplaced = [];
  for (const finding of found) {
    const label = [...form.querySelectorAll('.field > label')].find(
      (node) => node.textContent === finding.caption);
    if (!label) {
      unplaced.push(finding);
      continue;
    }
    const line = document.createElement('p');
    line.className = 'problem finding';
    line.textContent = finding.reason;
    label.parentElement.append(line);
    document.getElementById(label.htmlFor)?.setAttribute('aria-invalid', 'true');
  }
  return unplaced;
}

// "网页标题：还是示例文字"
export const findingLine = (finding) => `${finding.caption}：${finding.reason}`;
