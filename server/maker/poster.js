// The poster of a published page, drawn on a canvas to the program's
// layout: a tall picture to send in a chat, whose QR code opens the page on
// a long press. Its proportions, colours and texts are the program's.

import { drawQr, qrCode } from './qr.js';

export const WIDTH = 1080;
export const HEIGHT = 1920;
export const SCAN_HINT = '长按识别二维码';
// The line of a page held back until its moment or its code, in place of
// any words of the page's own.
export const HELD_BACK_LINE = '有一份心意，等你打开';

const MARGIN = 60;
const PICTURE_TOP = 80;
const PICTURE_WIDTH = WIDTH - 2 * MARGIN;
const TALLEST_PICTURE = 760;
const LOWEST_PICTURE = 420;
const QR_PIXELS = 520;
const QR_PADDING = 28;
const QUIET_ZONE = 4;
const LINE_GAP = 44;
const LINE_WIDTH = 920;
const LINE_HEIGHT = 300;
const LARGEST_LINE = 68;
const HINT_PIXELS = 40;
const OPENING_PIXELS = 48;
const SITE_PIXELS = 26;
const INK = '#b0002a';
const QUIET = '#66555a';
const FACE = '"Noto Sans CJK SC", "PingFang SC", "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif';

const font = (pixels) => `${pixels}px ${FACE}`;
// A face's line spacing, as the program's font metrics give it.
const spacing = (pixels) => Math.ceil(pixels * 1.3);

function heart(ctx, x, y, size, colour) {
  const s = size / 2;
  ctx.beginPath();
  ctx.moveTo(x, y + s);
  ctx.bezierCurveTo(x - 2.2 * s, y - 0.2 * s, x - 0.9 * s, y - 1.6 * s, x, y - 0.6 * s);
  ctx.bezierCurveTo(x + 0.9 * s, y - 1.6 * s, x + 2.2 * s, y - 0.2 * s, x, y + s);
  ctx.fillStyle = colour;
  ctx.fill();
}

function roundedRect(ctx, x, y, w, h, r) {
  ctx.beginPath();
  ctx.moveTo(x + r, y);
  ctx.arcTo(x + w, y, x + w, y + h, r);
  ctx.arcTo(x + w, y + h, x, y + h, r);
  ctx.arcTo(x, y + h, x, y, r);
  ctx.arcTo(x, y, x + w, y, r);
  ctx.closePath();
}

// `text` in lines within `width`: at spaces where a word would not fit, and
// between any two characters of Chinese.
function wrapped(ctx, text, width) {
  const lines = [];
  let line = '';
  const pieces = text.match(/[\u2e80-\u9fff\uf900-\ufaff\uff00-\uffef]|[^\s\u2e80-\u9fff\uf900-\ufaff\uff00-\uffef]+|\s+/gu) ?? [];
  for (const piece of pieces) {
    const tried = line + piece;
    if (!line || ctx.measureText(tried).width <= width) {
      line = tried;
      continue;
    }
    lines.push(line);
    line = /^\s+$/.test(piece) ? '' : piece;
    // A word wider than the line is cut where it must be.
    while (ctx.measureText(line).width > width && line.length > 1) {
      let cut = line.length - 1;
      while (cut > 1 && ctx.measureText(line.slice(0, cut)).width > width) cut -= 1;
      lines.push(line.slice(0, cut));
      line = line.slice(cut);
    }
  }
  if (line.trim()) lines.push(line);
  return lines;
}

// The largest size at which the line wraps into `height`; past the smallest
// meant for it, smaller still rather than lose a character.
export function fitLine(ctx, text, width, height) {
  for (let pixels = LARGEST_LINE; ; pixels -= 2) {
    ctx.font = font(pixels);
    const lines = wrapped(ctx, text, width);
    if (lines.length * spacing(pixels) <= height || pixels <= 8)
      return { pixels, lines, lineHeight: spacing(pixels) };
  }
}

function covering(ctx, picture, x, y, w, h) {
  const scale = Math.max(w / picture.width, h / picture.height);
  const sw = w / scale;
  const sh = h / scale;
  ctx.drawImage(picture, (picture.width - sw) / 2, (picture.height - sh) / 2, sw, sh, x, y, w, h);
}

function centred(ctx, text, y, height, pixels, colour) {
  ctx.font = font(pixels);
  ctx.fillStyle = colour;
  ctx.textAlign = 'center';
  ctx.textBaseline = 'middle';
  ctx.fillText(text, WIDTH / 2, y + height / 2);
}

// content: { address, line, site, picture (an image or null), opening
// ("2月14日 20:00 开启" or ''), heldBack }.
export async function drawPoster(content) {
  const code = await qrCode(content.address);
  const canvas = document.createElement('canvas');
  canvas.width = WIDTH;
  canvas.height = HEIGHT;
  const ctx = canvas.getContext('2d');

  const ground = ctx.createLinearGradient(0, 0, 0, HEIGHT);
  ground.addColorStop(0, '#ffe6ee');
  ground.addColorStop(1, '#ffc4d6');
  ctx.fillStyle = ground;
  ctx.fillRect(0, 0, WIDTH, HEIGHT);
  heart(ctx, 110, 1010, 70, 'rgba(255,255,255,0.47)');
  heart(ctx, 980, 1060, 50, 'rgba(255,255,255,0.55)');
  heart(ctx, 150, 1700, 44, 'rgba(255,255,255,0.43)');
  heart(ctx, 950, 1620, 80, 'rgba(255,255,255,0.39)');

  // The picture, as wide as the poster less its margins, its corners round.
  let belowPicture = PICTURE_TOP;
  if (content.picture) {
    const shaped = Math.floor((PICTURE_WIDTH * content.picture.height) / content.picture.width);
    const height = Math.min(Math.max(shaped, LOWEST_PICTURE), TALLEST_PICTURE);
    ctx.save();
    roundedRect(ctx, MARGIN, PICTURE_TOP, PICTURE_WIDTH, height, 36);
    ctx.clip();
    covering(ctx, content.picture, MARGIN, PICTURE_TOP, PICTURE_WIDTH, height);
    ctx.restore();
    roundedRect(ctx, MARGIN, PICTURE_TOP, PICTURE_WIDTH, height, 36);
    ctx.strokeStyle = '#fff';
    ctx.lineWidth = 8;
    ctx.stroke();
    belowPicture = PICTURE_TOP + height - 1;
  } else if (content.heldBack) {
    // Nothing of the page's before it opens: a heart in the picture's place.
    heart(ctx, WIDTH / 2, PICTURE_TOP + LOWEST_PICTURE / 2 + 40, LOWEST_PICTURE * 0.55, '#e83a6a');
    belowPicture = PICTURE_TOP + LOWEST_PICTURE;
  }

  // From the foot up: the site's name, the hint, the QR code on its card.
  const siteTop = HEIGHT - 56 - spacing(SITE_PIXELS);
  centred(ctx, content.site, siteTop, spacing(SITE_PIXELS), SITE_PIXELS, QUIET);
  const hintTop = siteTop - 36 - spacing(HINT_PIXELS);
  centred(ctx, SCAN_HINT, hintTop, spacing(HINT_PIXELS), HINT_PIXELS, '#443338');

  // Whole pixels a module: every edge sharp.
  const modules = code.size + 2 * QUIET_ZONE;
  const qrSide = Math.max(1, Math.floor(QR_PIXELS / modules)) * modules;
  const card = qrSide + 2 * QR_PADDING;
  const cardLeft = Math.floor((WIDTH - card) / 2);
  const cardTop = hintTop - 24 - card;
  roundedRect(ctx, cardLeft, cardTop, card, card, 28);
  ctx.fillStyle = '#fff';
  ctx.fill();
  ctx.imageSmoothingEnabled = false;
  drawQr(ctx, code, cardLeft + QR_PADDING, cardTop + QR_PADDING, qrSide);

  // Over the card, when the page opens at a moment: when.
  let aboveCard = cardTop;
  if (content.opening) {
    aboveCard = cardTop - 24 - spacing(OPENING_PIXELS);
    centred(ctx, content.opening, aboveCard, spacing(OPENING_PIXELS), OPENING_PIXELS, INK);
  }

  // The line between the picture and the card, each of its lines centred.
  const roomTop = belowPicture + LINE_GAP;
  const room = Math.min(LINE_HEIGHT, aboveCard - LINE_GAP - roomTop);
  const fitted = fitLine(ctx, content.line, LINE_WIDTH, room);
  const block = fitted.lines.length * fitted.lineHeight;
  let y = roomTop + Math.floor((aboveCard - LINE_GAP - roomTop - block) / 2);
  for (const line of fitted.lines) {
    centred(ctx, line.trim(), y, fitted.lineHeight, fitted.pixels, INK);
    y += fitted.lineHeight;
  }
  return canvas;
}

export function posterBlob(canvas) {
  return new Promise((resolve, reject) =>
    canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error('no PNG'))), 'image/png'));
}
