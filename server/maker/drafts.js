// What she typed, per style, kept in this browser as she types: a reload, a
// closed tab or a lost connection loses nothing.

const PREFIX = 'heartpage.draft.style';

export function loadDraft(style) {
  try {
    const draft = JSON.parse(localStorage.getItem(PREFIX + style) ?? 'null');
    return draft && typeof draft === 'object' ? draft : null;
  } catch {
    return null;
  }
}

export function saveDraft(style, draft) {
  try {
    localStorage.setItem(PREFIX + style, JSON.stringify(draft));
  } catch {
    // A full storage keeps the last draft that fitted.
  }
}
