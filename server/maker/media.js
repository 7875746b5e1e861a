// Her own photos, music and video: pictures made light here as the desktop
// program makes them (turned upright, at most 1920 pixels on the longest
// side, JPEG of quality 85, a large transparent one a PNG; animated ones as
// they are), then sent to the site with the progress shown.

const LONGEST_SIDE = 1920;
const JPEG_QUALITY = 0.85;

export const UNREADABLE_PICTURE = '无法读取这张图片，文件可能已损坏，请换一张！';
export const UNREADABLE_HEIC =
  '这个浏览器无法读取HEIC格式的照片。请在相机设置里选择“兼容性最佳”后重新拍摄，或把照片存为JPEG后再选择。';

const ascii = (bytes, from, length) => String.fromCharCode(...bytes.subarray(from, from + length));

// What the first bytes say the picture is, and what of it matters here:
// the EXIF orientation of a JPEG, animation and transparency of a PNG or a
// WebP.
export function pictureFacts(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (bytes[0] === 0xff && bytes[1] === 0xd8) return { format: 'jpeg', orientation: jpegOrientation(view) };
  if (ascii(bytes, 1, 3) === 'PNG') {
    let animated = false;
    let alpha = bytes[25] === 4 || bytes[25] === 6;
    for (let at = 8; at + 8 <= bytes.length;) {
      const type = ascii(bytes, at + 4, 4);
      if (type === 'acTL') animated = true;
      if (type === 'tRNS') alpha = true;
      if (type === 'IDAT') break;
      at += 12 + view.getUint32(at);
    }
    return { format: 'png', animated, alpha };
  }
  if (ascii(bytes, 0, 3) === 'GIF') return { format: 'gif', animated: true };
  if (ascii(bytes, 0, 4) === 'RIFF' && ascii(bytes, 8, 4) === 'WEBP') {
    const chunk = ascii(bytes, 12, 4);
    if (chunk === 'VP8X') return { format: 'webp', animated: (bytes[20] & 0x02) !== 0, alpha: (bytes[20] & 0x10) !== 0 };
    return { format: 'webp', animated: false, alpha: chunk === 'VP8L' && (bytes[24] & 0x10) !== 0 };
  }
  const brand = ascii(bytes, 8, 4);
  if (ascii(bytes, 4, 4) === 'ftyp' && /^(hei[cmsx]|hev[cmsx]|mif1|msf1)$/.test(brand)) return { format: 'heic' };
  return { format: '' };
}

function jpegOrientation(view) {
  for (let at = 2; at + 4 <= view.byteLength;) {
    const marker = view.getUint16(at);
    const length = view.getUint16(at + 2);
    if (marker === 0xffe1 && view.getUint32(at + 4) === 0x45786966) {
      const tiff = at + 10;
      const little = view.getUint16(tiff) === 0x4949;
      const ifd = tiff + view.getUint32(tiff + 4, little);
      const count = view.getUint16(ifd, little);
      for (let i = 0; i < count; i += 1) {
        const entry = ifd + 2 + i * 12;
        if (entry + 10 > view.byteLength) break;
        if (view.getUint16(entry, little) === 0x0112) return view.getUint16(entry + 8, little);
      }
      return 1;
    }
    if ((marker & 0xff00) !== 0xff00 || marker === 0xffda) return 1;
    at += 2 + length;
  }
  return 1;
}

function decode(file) {
  // An <img> turns a photo upright by its EXIF orientation in every engine.
  return new Promise((resolve, reject) => {
    const url = URL.createObjectURL(file);
    const image = new Image();
    image.onload = () => resolve({ image, url });
    image.onerror = () => {
      URL.revokeObjectURL(url);
      reject(new Error('undecodable'));
    };
    image.src = url;
  });
}

function encode(canvas, type, quality) {
  return new Promise((resolve, reject) =>
    canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error('unencodable'))), type, quality));
}

// What to send of the picture `file`: {blob} (itself, or made light), or
// {error} in her words.
export async function makeLight(file) {
  const facts = pictureFacts(new Uint8Array(await file.slice(0, 64 * 1024).arrayBuffer()));
  if (!facts.format || facts.animated) return { blob: file };
  let decoded;
  try {
    decoded = await decode(file);
  } catch {
    return { error: facts.format === 'heic' ? UNREADABLE_HEIC : UNREADABLE_PICTURE };
  }
  const { image, url } = decoded;
  try {
    const width = image.naturalWidth;
    const height = image.naturalHeight;
    const large = Math.max(width, height) > LONGEST_SIDE;
    const turned = facts.format === 'jpeg' && facts.orientation > 1;
    // The site keeps no HEIC: such a photo is always written again.
    if (!large && !turned && facts.format !== 'heic') return { blob: file };
    const transparent = facts.format !== 'jpeg' && facts.alpha;
    if (transparent && !large) return { blob: file };
    const scale = Math.min(1, LONGEST_SIDE / Math.max(width, height));
    const canvas = document.createElement('canvas');
    canvas.width = Math.max(1, Math.round(width * scale));
    canvas.height = Math.max(1, Math.round(height * scale));
    const context = canvas.getContext('2d');
    context.imageSmoothingQuality = 'high';
    if (!transparent) {
      context.fillStyle = '#fff';
      context.fillRect(0, 0, canvas.width, canvas.height);
    }
    context.drawImage(image, 0, 0, canvas.width, canvas.height);
    const blob = transparent ? await encode(canvas, 'image/png') : await encode(canvas, 'image/jpeg', JPEG_QUALITY);
    canvas.width = 0; // gives a phone its memory back at once
    return { blob };
  } catch {
    return { error: UNREADABLE_PICTURE };
  } finally {
    URL.revokeObjectURL(url);
  }
}

// Sends `blob` under her key; `progress` hears the share sent (0 to 1).
// Resolves with the file's public address, rejects with {status, line}.
export function sendFile(blob, key, progress) {
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('POST', '/api/make/media');
    request.setRequestHeader('X-Owner-Key', key);
    request.upload.onprogress = (event) => {
      if (event.lengthComputable) progress(event.loaded / event.total);
    };
    request.onload = () => {
      let answer = null;
      try {
        answer = JSON.parse(request.responseText);
      } catch {
        // A limit in front of the upload answers in plain text.
      }
      if (request.status === 200 && answer?.address) resolve(answer.address);
      else reject({ status: request.status, line: answer?.error ?? request.responseText.trim(),
        retryAfter: Number(request.getResponseHeader('Retry-After')) || 0 });
    };
    request.onerror = () => reject({ status: 0, line: '' });
    request.send(blob);
  });
}
