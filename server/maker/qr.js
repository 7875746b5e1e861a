// QR codes of the site's addresses. The server encodes them, with the same
// library as the program, so the maker never carries an encoder of its own;
// the modules come back as rows and are drawn here, as an image on the page
// or onto the poster's canvas.
import { post } from './api.js';

const QUIET = 4; // light modules a reader needs around the code
const SVG = 'http://www.w3.org/2000/svg';

export async function qrCode(text) {
  const { size, rows } = await post('qr', { text });
  return { size, dark: (x, y) => rows[y][x] === '1' };
}

// One path for all dark modules: a few hundred rectangles would each be a
// node for the page to lay out.
function modulePath(code) {
  let d = '';
  for (let y = 0; y < code.size; y++)
    for (let x = 0; x < code.size; x++)
      if (code.dark(x, y)) d += `M${x + QUIET} ${y + QUIET}h1v1h-1z`;
  return d;
}

export function qrSvg(code, label) {
  const whole = code.size + 2 * QUIET;
  const svg = document.createElementNS(SVG, 'svg');
  svg.setAttribute('viewBox', `0 0 ${whole} ${whole}`);
  svg.setAttribute('role', 'img');
  svg.setAttribute('aria-label', label);
  svg.setAttribute('shape-rendering', 'crispEdges');
  svg.classList.add('qr');
  const ground = document.createElementNS(SVG, 'rect');
  ground.setAttribute('width', whole);
  ground.setAttribute('height', whole);
  ground.setAttribute('fill', '#fff');
  const modules = document.createElementNS(SVG, 'path');
  modules.setAttribute('d', modulePath(code));
  modules.setAttribute('fill', '#000');
  svg.append(ground, modules);
  return svg;
}

// Whole modules only: a module split across device pixels blurs into grey
// and a phone's camera reads it worse.
export function drawQr(ctx, code, x, y, side) {
  const whole = code.size + 2 * QUIET;
  const unit = Math.max(1, Math.floor(side / whole));
  const left = x + Math.floor((side - unit * whole) / 2);
  const top = y + Math.floor((side - unit * whole) / 2);
  ctx.fillStyle = '#fff';
  ctx.fillRect(x, y, side, side);
  ctx.fillStyle = '#000';
  for (let row = 0; row < code.size; row++)
    for (let col = 0; col < code.size; col++)
      if (code.dark(col, row))
        ctx.fillRect(left + (col + QUIET) * unit, top + (row + QUIET) * unit, unit, unit);
}
