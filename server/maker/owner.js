// The owner key: 128 random bits that stand for her wherever the program
// would name its machine. It stays in this browser, and travels to another
// one only in the fragment of the 管理链接, which no server ever sees.

const KEY = 'heartpage.owner-key';
const SHOWN = 'heartpage.manage-link-shown';
const PATTERN = /^[0-9a-f]{32}$/;

function newKey() {
  const bytes = new Uint8Array(16);
  crypto.getRandomValues(bytes);
  return Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// A 管理链接 opened here hands its key over; the fragment then leaves the
// address bar, so that the key is not left on screen or in the history.
export function adoptFromAddress() {
  const match = /^#key=([0-9a-fA-F]{32})$/.exec(location.hash);
  if (!match) return false;
  localStorage.setItem(KEY, match[1].toLowerCase());
  // The link already did what showing it once is for.
  localStorage.setItem(SHOWN, '1');
  history.replaceState(null, '', location.pathname + location.search);
  return true;
}

// Whether this browser has a key yet: one that has none owns nothing.
export function hasOwnerKey() {
  return PATTERN.test(localStorage.getItem(KEY) ?? '');
}

export function ownerKey() {
  let key = localStorage.getItem(KEY);
  if (!key || !PATTERN.test(key)) {
    key = newKey();
    localStorage.setItem(KEY, key);
  }
  return key;
}

export function manageLink() {
  return `${location.origin}/make#key=${ownerKey()}`;
}

// True the first time only: the link is shown once, after the first publish.
export function takeFirstShowing() {
  if (localStorage.getItem(SHOWN)) return false;
  localStorage.setItem(SHOWN, '1');
  return true;
}
