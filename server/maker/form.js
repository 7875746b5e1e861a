// A style's form, laid out from the table the server serves: its groups in
// the editors' order, a real label for every field, the phone's own pickers
// for colours and dates, then the question and what the visitor meets first.

const GATE = [
  { name: 'opens', caption: '定时开启', type: 'datetime-local',
    hint: '填写后，TA要到这个时刻才能打开网页；不填则立即可以打开' },
  { name: 'code', caption: '开启口令', type: 'text', placeholder: '可不填',
    hint: '填写后，TA要输入这个口令才能打开网页；口令不会显示给TA', max: 32 },
  { name: 'hint', caption: '口令提示', type: 'text', placeholder: '我们第一次见面的城市？',
    hint: 'TA输入口令时看到的提示', max: 40 },
];

const URL_KINDS = new Set(['picture', 'music', 'video', 'address']);
// Fields that take a file of her own; their pickers load with the first
// form, not with the gallery.
const FILE_KINDS = new Set(['picture', 'music', 'video']);

let unique = 0;
function id(name) {
  unique += 1;
  return `f${unique}-${name.replace(/[^A-Za-z0-9]/g, '')}`;
}

function element(tag, attributes = {}, text = '') {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text) node.textContent = text;
  return node;
}

function caption(text) {
  return text.replace(/[：:]\s*$/, '');
}

// "#FFF" and "B85C00" as the colour picker needs them.
function pickerColour(value) {
  let hex = String(value ?? '').trim().replace(/^#/, '');
  if (/^[0-9a-fA-F]{3}$/.test(hex)) hex = hex.replace(/./g, (c) => c + c);
  return /^[0-9a-fA-F]{6}$/.test(hex) ? `#${hex.toLowerCase()}` : '#000000';
}

const pad = (n) => String(n).padStart(2, '0');

// One field row; `values` holds what every field has now and is changed in
// place as she types.
function fieldRow(field, values, onInput, dateParts) {
  const wrap = element('div', { class: 'field' });
  const inputId = id(field.name);
  const label = element('label', { for: inputId }, caption(field.caption));
  let input;
  if (field.kind === 'year' && dateParts) {
    // The three parts of a date as one date, chosen on the phone's calendar;
    // the page counts its months from 0.
    const { month, day } = dateParts;
    input = element('input', { type: 'date', id: inputId });
    const y = Number(values[field.name]);
    const m = Number(values[month.name]) + 1;
    const d = Number(values[day.name]);
    if (y > 0 && m >= 1 && m <= 12 && d >= 1 && d <= 31) input.value = `${String(y).padStart(4, '0')}-${pad(m)}-${pad(d)}`;
    input.addEventListener('input', () => {
      const parts = /^(\d{4})-(\d{2})-(\d{2})$/.exec(input.value);
      if (!parts) return;
      values[field.name] = String(Number(parts[1]));
      values[month.name] = String(Number(parts[2]) - 1);
      values[day.name] = String(Number(parts[3]));
      onInput();
    });
  } else {
    if (field.multiline || field.kind === 'markup') {
      input = element('textarea', { id: inputId, rows: '4' });
    } else if (field.kind === 'colour') {
      input = element('input', { type: 'color', id: inputId });
    } else if (URL_KINDS.has(field.kind)) {
      input = element('input', { type: 'url', id: inputId, inputmode: 'url', autocapitalize: 'none', spellcheck: 'false' });
    } else {
      input = element('input', { type: 'text', id: inputId });
    }
    if (field.shared_max) input.setAttribute('maxlength', String(field.shared_max));
    if (field.max) input.setAttribute('maxlength', String(field.max));
    input.name = field.name;
    input.value = field.kind === 'colour' ? pickerColour(values[field.name]) : values[field.name] ?? '';
    input.addEventListener('input', () => {
      values[field.name] = input.value;
      onInput();
    });
  }
  wrap.append(label, input);
  if (FILE_KINDS.has(field.kind)) {
    import('./pickers.js').then(({ filePicker }) =>
      wrap.append(...filePicker(field.kind, input, (address) => {
        values[field.name] = address;
        onInput();
      })));
  }
  return wrap;
}

// The form of `style` into `form`, filled from `draft` (or the table's
// defaults); `onInput` hears of every change, the draft already updated.
export function buildForm(form, style, questionRows, draft, onInput) {
  form.replaceChildren();
  const all = style.groups.flatMap((group) => group.fields);
  const values = {};
  for (const field of [...all, ...questionRows]) values[field.name] = field.default;
  Object.assign(values, draft?.fields ?? {});
  const state = {
    fields: values,
    checked: Boolean(draft?.checked),
    opens: draft?.opens ?? '',
    code: draft?.code ?? '',
    hint: draft?.hint ?? '',
    name: draft?.name ?? '',
  };
  const kind = (k) => all.find((field) => field.kind === k);
  const month = kind('month0');
  const day = kind('day');
  const dateParts = month && day ? { month, day } : null;

  for (const group of style.groups) {
    const set = element('fieldset');
    if (group.caption) set.append(element('legend', {}, group.caption));
    else set.append(element('legend', { class: 'plain' }, style.caption));
    for (const field of group.fields) {
      if (dateParts && (field === month || field === day)) continue;
      set.append(fieldRow(field, values, onInput, dateParts));
    }
    form.append(set);
  }

  if (style.check) {
    const wrap = element('div', { class: 'field check' });
    const inputId = id('check');
    const box = element('input', { type: 'checkbox', id: inputId });
    box.checked = state.checked;
    box.addEventListener('change', () => {
      state.checked = box.checked;
      onInput();
    });
    wrap.append(box, element('label', { for: inputId }, style.check));
    form.firstElementChild?.append(wrap);
  }

  const question = element('fieldset');
  question.append(element('legend', {}, '问TA一句'));
  for (const row of questionRows) question.append(fieldRow(row, values, onInput, null));
  form.append(question);

  const gate = element('fieldset');
  gate.append(element('legend', {}, 'TA打开网页时'));
  for (const item of GATE) {
    const wrap = element('div', { class: 'field' });
    const inputId = id(item.name);
    const hintId = `${inputId}-hint`;
    const input = element('input', { type: item.type, id: inputId, 'aria-describedby': hintId });
    if (item.placeholder) input.placeholder = item.placeholder;
    if (item.max) input.maxLength = item.max;
    input.value = state[item.name];
    input.addEventListener('input', () => {
      state[item.name] = input.value;
      onInput();
    });
    wrap.append(element('label', { for: inputId }, item.caption), input,
      element('p', { class: 'rule', id: hintId }, item.hint));
    gate.append(wrap);
  }
  form.append(gate);
  return state;
}

// "YYYY-MM-DD HH:MM:SS" in UTC, as the site is sent a moment, of the phone's
// local "YYYY-MM-DDTHH:MM"; empty for none.
export function utcOfLocal(local) {
  if (!local) return '';
  const moment = new Date(local);
  if (Number.isNaN(moment.getTime())) return '';
  return moment.toISOString().slice(0, 19).replace('T', ' ');
}
