/* A small 3D kit for a canvas: a camera that turns about the vertical axis,
   perspective projection, and upright pictures drawn in vertical strips, so
   that each strip is a sheared copy of a column of the image and the
   picture keeps its true perspective without any per-pixel work. */
(function (global) {
  "use strict";

  var ge1doot = {};

  // Camera at (x, z) on the floor, looking along yaw (0 = towards +z,
  // positive turns right, towards +x).
  function Camera() {
    this.x = 0; this.z = 0; this.yaw = 0; this.focal = 600; this.near = 40;
    this.cx = 0; this.cy = 0;
  }
  Camera.prototype.resize = function (width, height) {
    this.cx = width / 2;
    // On a tall screen the pictures stand above the middle, close under the
    // words, their reflections filling the floor under them.
    this.cy = height > width * 1.2 ? height * 0.34 : height / 2;
    // Wide screens see about 90 degrees. A tall phone screen sees a narrow
    // angle instead, about one picture across, so that the picture fills its
    // width rather than lying in a thin band across the middle.
    this.focal = height > width * 1.2 ? width * 1.4 : Math.max(width, height * 0.8) * 0.5;
  };
  // Camera space: r to the right, d straight ahead.
  Camera.prototype.view = function (x, z) {
    var dx = x - this.x, dz = z - this.z, c = Math.cos(this.yaw), s = Math.sin(this.yaw);
    return { r: dx * c - dz * s, d: dx * s + dz * c };
  };
  Camera.prototype.project = function (x, y, z) {
    var v = this.view(x, z);
    if (v.d < this.near) return null;
    var k = this.focal / v.d;
    return { x: this.cx + v.r * k, y: this.cy - y * k, k: k, d: v.d };
  };
  ge1doot.Camera = Camera;

  // An upright rectangle standing on the floor plan, seen from the side its
  // normal points to. `facing` is the normal: "+x", "-x", "+z" or "-z".
  var NORMALS = { "+x": [1, 0], "-x": [-1, 0], "+z": [0, 1], "-z": [0, -1] };
  function Plane(x, y, z, width, height, facing) {
    var n = NORMALS[facing] || [0, -1];
    this.x = x; this.y = y; this.z = z; this.w = width; this.h = height;
    this.nx = n[0]; this.nz = n[1];
    // Seen from the front, the picture's right hand points along (-nz, nx).
    this.rx = -n[1]; this.rz = n[0];
  }
  Plane.prototype.edge = function (u) {
    var off = (u - 0.5) * this.w;
    return { x: this.x + this.rx * off, z: this.z + this.rz * off };
  };
  // The picture's four screen corners, or null when it is behind the camera.
  Plane.prototype.corners = function (camera) {
    var l = this.edge(0), r = this.edge(1), h = this.h / 2;
    var a = camera.project(l.x, this.y + h, l.z), b = camera.project(r.x, this.y + h, r.z);
    var c = camera.project(r.x, this.y - h, r.z), d = camera.project(l.x, this.y - h, l.z);
    return a && b && c && d ? [a, b, c, d] : null;
  };
  // Whether the camera sees the front of the picture.
  Plane.prototype.facesCamera = function (camera) {
    return (camera.x - this.x) * this.nx + (camera.z - this.z) * this.nz > 0;
  };
  Plane.prototype.depth = function (camera) { return camera.view(this.x, this.z).d; };

  // Draws `image` on the plane. The part behind the near plane is cut off;
  // the rest is split into strips of roughly `stripPx` screen pixels.
  Plane.prototype.draw = function (ctx, camera, image, options) {
    if (!this.facesCamera(camera)) return false;
    var near = camera.near + 1;
    var l = this.edge(0), r = this.edge(1);
    var dl = camera.view(l.x, l.z).d, dr = camera.view(r.x, r.z).d;
    if (dl < near && dr < near) return false;
    var u0 = 0, u1 = 1;
    if (dl < near) u0 = (near - dl) / (dr - dl);
    if (dr < near) u1 = (near - dl) / (dr - dl);
    var self = this, h = this.h / 2, strip = (options && options.stripPx) || 6;
    function at(u) {
      var e = self.edge(u), top = camera.project(e.x, self.y + h, e.z), bottom = camera.project(e.x, self.y - h, e.z);
      return { x: top.x, top: top.y, bottom: bottom.y };
    }
    var a = at(u0), b = at(u1);
    var width = Math.abs(b.x - a.x);
    var maxX = ctx.canvas.width, onScreen = Math.min(a.x, b.x) < maxX && Math.max(a.x, b.x) > 0;
    if (!onScreen) return false;
    var frame = (options && options.frame) || 0;
    if (frame) {
      var fa = camera.project(l.x, 0, l.z);
      var pad = fa ? frame * fa.k : frame;
      ctx.fillStyle = options.frameColour || "#fff";
      ctx.beginPath();
      ctx.moveTo(a.x, a.top - pad); ctx.lineTo(b.x, b.top - pad);
      ctx.lineTo(b.x, b.bottom + pad); ctx.lineTo(a.x, a.bottom + pad);
      ctx.closePath();
      ctx.fill();
    }
    if (!image || !image.complete || !image.naturalWidth) return true;
    // Only the change of height across the picture needs strips: a picture
    // seen face on is one plain copy, an oblique one gets enough strips to
    // keep each step of its top edge under a pixel.
    var slant = Math.abs((b.bottom - b.top) - (a.bottom - a.top));
    var count = Math.max(1, Math.min(Math.ceil(width / strip), Math.ceil(slant / 1.5), 120));
    // The picture fills its frame cut around its centre, never stretched: a
    // portrait photo in a landscape frame loses its top and bottom instead
    // of being squashed.
    var iw = image.naturalWidth, ih = image.naturalHeight, ox = 0, oy = 0;
    var frameAspect = this.w / this.h;
    if (iw / ih > frameAspect) {
      ox = (iw - ih * frameAspect) / 2;
      iw = ih * frameAspect;
    } else {
      oy = (ih - iw / frameAspect) / 2;
      ih = iw / frameAspect;
    }
    // Equal steps on screen are unequal steps on the picture: interpolate
    // 1/d linearly across the screen to find the picture column of each step.
    var ia = 1 / camera.view(this.edge(u0).x, this.edge(u0).z).d;
    var ib = 1 / camera.view(this.edge(u1).x, this.edge(u1).z).d;
    var mirror = !!(options && options.mirror);
    // One strip: the picture columns sx .. sx + sw sheared onto the screen
    // so that its top and bottom follow the picture's slanted edges, and
    // clipped to its exact outline. Flat strips with their own top and
    // bottom would show steps along the edges of a picture seen at a steep
    // angle; sheared ones join into straight edges. A half pixel of overlap
    // hides the seams.
    function drawStrip(p, q, sx, sw) {
      var dx = q.x - p.x;
      if (Math.abs(dx) < 0.01) return;
      var dir = dx > 0 ? 1 : -1, hp = p.bottom - p.top, hq = q.bottom - q.top;
      var midP = (p.top + p.bottom) / 2, midQ = (q.top + q.bottom) / 2;
      var a = dx / sw, b = (midQ - midP) / sw, d = ((hp + hq) / 2) / ih;
      if (mirror) d = -d;
      ctx.save();
      ctx.beginPath();
      ctx.moveTo(p.x - 0.5 * dir, p.top); ctx.lineTo(q.x + 0.5 * dir, q.top);
      ctx.lineTo(q.x + 0.5 * dir, q.bottom); ctx.lineTo(p.x - 0.5 * dir, p.bottom);
      ctx.closePath();
      ctx.clip();
      ctx.transform(a, b, 0, d, p.x - a * sx, midP - b * sx - (d * ih) / 2);
      var pad = Math.min(0.75 / Math.abs(a), sw), from = Math.max(0, sx - pad), to = Math.min(iw, sx + sw + pad);
      ctx.drawImage(image, ox + from, oy, to - from, ih, from, 0, to - from, ih);
      ctx.restore();
    }
    var prev = { u: u0, s: a };
    for (var i = 1; i <= count; i++) {
      var t = i / count;
      var inv = ia + (ib - ia) * t;
      var u = u0 + (u1 - u0) * ((t * ib) / inv);
      var s = at(u);
      var sx = prev.u * iw, sw = (u - prev.u) * iw;
      var x0 = prev.s.x, x1 = s.x;
      if (sw > 0 && x1 > -2 && x0 < maxX + 2) drawStrip(prev.s, s, sx, sw);
      prev = { u: u, s: s };
    }
    return true;
  };
  // Whether the screen point lies inside the picture's outline.
  Plane.prototype.contains = function (camera, px, py) {
    if (!this.facesCamera(camera)) return false;
    var c = this.corners(camera);
    if (!c) return false;
    var inside = false;
    for (var i = 0, j = 3; i < 4; j = i++) {
      if ((c[i].y > py) !== (c[j].y > py) &&
          px < ((c[j].x - c[i].x) * (py - c[i].y)) / (c[j].y - c[i].y) + c[i].x) inside = !inside;
    }
    return inside;
  };
  ge1doot.Plane = Plane;

  // Pointer input on an element: drags report their movement, short presses
  // that barely moved report a tap at the element-relative point.
  function Pointer(element, handlers) {
    var down = null;
    function local(e) {
      var box = element.getBoundingClientRect();
      return { x: e.clientX - box.left, y: e.clientY - box.top };
    }
    element.addEventListener("pointerdown", function (e) {
      var p = local(e);
      down = { id: e.pointerId, x: p.x, y: p.y, lastX: p.x, lastY: p.y, time: Date.now(), moved: 0 };
      if (element.setPointerCapture) { try { element.setPointerCapture(e.pointerId); } catch (err) { /* synthetic */ } }
      if (handlers.start) handlers.start(p);
    });
    element.addEventListener("pointermove", function (e) {
      if (!down || e.pointerId !== down.id) return;
      var p = local(e), dx = p.x - down.lastX, dy = p.y - down.lastY;
      down.lastX = p.x; down.lastY = p.y;
      down.moved += Math.abs(dx) + Math.abs(dy);
      if (handlers.drag) handlers.drag(dx, dy);
    });
    function finish(e) {
      if (!down || e.pointerId !== down.id) return;
      var p = local(e), wasTap = down.moved < 8 && Date.now() - down.time < 600;
      down = null;
      if (handlers.end) handlers.end();
      if (wasTap && handlers.tap) handlers.tap(p.x, p.y);
    }
    element.addEventListener("pointerup", finish);
    element.addEventListener("pointercancel", function (e) { if (down && e.pointerId === down.id) { down = null; if (handlers.end) handlers.end(); } });
  }
  ge1doot.Pointer = Pointer;

  // Moves `value` a fraction of the way to `target`, frame-rate independent.
  ge1doot.ease = function (value, target, rate, dt) {
    return value + (target - value) * (1 - Math.pow(1 - rate, dt / 16.7));
  };
  // The shortest signed turn from angle a to angle b.
  ge1doot.turn = function (a, b) {
    var d = (b - a) % (2 * Math.PI);
    if (d > Math.PI) d -= 2 * Math.PI;
    if (d < -Math.PI) d += 2 * Math.PI;
    return d;
  };

  global.ge1doot = ge1doot;
})(window);
