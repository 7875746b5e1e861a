/* The walk-through photo room: twelve pictures on the four walls of a square
   room, seen from its middle. Dragging turns the view; a tap on a picture
   walks up to it, a second tap (or a tap beside it) walks back. */
(function () {
  "use strict";

  var canvas = document.getElementById("screen");
  if (!canvas || !canvas.getContext || !window.ge1doot || !window.walls) return;
  var ctx = canvas.getContext("2d");
  if (!ctx) return;
  // The room is drawn: a screen reader hears what it is, not the fallback
  // words for browsers without canvases.
  canvas.setAttribute("role", "img");
  canvas.setAttribute("aria-label", "\u5341\u4e8c\u5f20\u7167\u7247\u7684\u76f8\u518c");
  var G = window.ge1doot, camera = new G.Camera();
  var memory = window.visitMemory || { load: function () { return {}; }, save: function () {} };

  // Pictures are 640 x 386; on the walls they are 800 wide, 3 per 3000-wide wall.
  var PICTURE_W = 800, PICTURE_H = 482, CLOSE = 760;
  var pictures = [];
  for (var i = 0; i < walls.length; i++) {
    var w = walls[i];
    var plane = new G.Plane(w.x, w.y || 0, w.z, PICTURE_W, PICTURE_H, w.facing);
    // Its reflection in the polished floor, upside down under it.
    var reflection = new G.Plane(w.x, (w.y || 0) - PICTURE_H - 60, w.z, PICTURE_W, PICTURE_H, w.facing);
    var picture = { number: i + 1, plane: plane, reflection: reflection, image: null };
    if (w.src) load(picture, w.src);
    pictures.push(picture);
  }

  var remembered = memory.load();
  var state = {
    yaw: typeof remembered.yaw === "number" ? remembered.yaw : 0,
    targetYaw: typeof remembered.yaw === "number" ? remembered.yaw : 0,
    x: 0, z: 0, targetX: 0, targetZ: 0,
    spin: 0, dragging: false, focus: null, idleSince: Date.now(), dirty: true
  };
  camera.yaw = state.yaw;

  function invalidate() { state.dirty = true; }

  // A picture joins the walls once decoded: decoding off the main thread
  // keeps the first turn towards a wall from stalling on it.
  function load(picture, src) {
    var image = new Image();
    picture.image = image;
    function ready() { image.ready = true; invalidate(); }
    image.onerror = function () { image.failed = true; invalidate(); };
    image.onload = function () {
      if (image.decode) image.decode().then(ready, ready);
      else ready();
    };
    image.src = src;
  }

  var ratio = 1;
  function resize() {
    ratio = Math.min(window.devicePixelRatio || 1, 2);
    var width = window.innerWidth, height = window.innerHeight;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    canvas.style.width = width + "px";
    canvas.style.height = height + "px";
    camera.resize(canvas.width, canvas.height);
    invalidate();
  }
  window.addEventListener("resize", resize);
  resize();

  function publish() {
    var degrees = ((state.yaw * 180) / Math.PI) % 360;
    if (degrees < 0) degrees += 360;
    canvas.setAttribute("data-yaw", degrees.toFixed(1));
    canvas.setAttribute("data-focus", state.focus ? String(state.focus.number) : "");
  }

  function walkTo(picture) {
    state.focus = picture;
    if (picture) {
      var p = picture.plane;
      // Close enough for the picture to fill most of the screen, and no
      // closer than fits it whole on a narrow one.
      var close = Math.max(CLOSE, (PICTURE_W * camera.focal) / (0.92 * canvas.width));
      state.targetX = p.x + p.nx * close;
      state.targetZ = p.z + p.nz * close;
      // Face the picture: look along the opposite of its normal.
      var want = Math.atan2(-p.nx, -p.nz);
      state.targetYaw = state.yaw + G.turn(state.yaw, want);
      memory.save({ focus: picture.number });
    } else {
      state.targetX = 0;
      state.targetZ = 0;
      state.targetYaw = state.yaw;
    }
    state.spin = 0;
    publish();
    invalidate();
  }

  G.Pointer(canvas, {
    start: function () { state.dragging = true; state.spin = 0; canvas.className = "dragging"; hideHint(); },
    drag: function (dx) {
      var turn = (-dx * ratio) / camera.focal;
      state.yaw += turn;
      state.targetYaw = state.yaw;
      state.spin = turn;
      invalidate();
    },
    end: function () {
      state.dragging = false;
      state.idleSince = Date.now();
      canvas.className = "";
      memory.save({ yaw: state.yaw });
      publish();
    },
    tap: function (x, y) {
      var hit = pick(x * ratio, y * ratio);
      walkTo(hit && hit !== state.focus ? hit : null);
    }
  });

  function pick(x, y) {
    var order = visibleOrder(), best = null;
    for (var i = 0; i < order.length; i++) if (order[i].plane.contains(camera, x, y)) best = order[i];
    return best;
  }

  // Far pictures first, so that near ones are painted over them.
  function visibleOrder() {
    var list = [];
    for (var i = 0; i < pictures.length; i++) {
      var p = pictures[i];
      if (p.plane.facesCamera(camera) && p.plane.depth(camera) > -PICTURE_W) list.push(p);
    }
    list.sort(function (a, b) { return b.plane.depth(camera) - a.plane.depth(camera); });
    return list;
  }

  var hint = document.getElementById("hint");
  function hideHint() { if (hint) hint.className = "gone"; }
  setTimeout(hideHint, 8000);

  // The page's background colour, or null where it is none (then there is
  // nothing to veil the reflections with, and the floor stays plain).
  var floor;
  function floorColour() {
    if (floor === undefined) {
      var c = getComputedStyle(canvas).backgroundColor || "";
      floor = /^rgba\(.*,\s*0\)$/.test(c) || c === "transparent" || !c ? null : c;
    }
    return floor;
  }

  function draw() {
    ctx.clearRect(0, 0, canvas.width, canvas.height);
    var order = visibleOrder(), i, p;
    // The reflections are painted whole and then veiled with the room's own
    // colour: painting each one faint would darken every seam between its
    // strips, where they overlap.
    var veil = floorColour();
    if (veil) {
      for (i = 0; i < order.length; i++) {
        p = order[i];
        if (p.image && p.image.ready && !p.image.failed)
          p.reflection.draw(ctx, camera, p.image, { mirror: true, stripPx: 4 * ratio });
      }
      ctx.globalAlpha = 0.8;
      ctx.fillStyle = veil;
      ctx.fillRect(0, 0, canvas.width, canvas.height);
      ctx.globalAlpha = 1;
    }
    for (i = 0; i < order.length; i++) {
      p = order[i];
      if (!p.image) continue;  // a wall place without a picture stays blank
      p.plane.draw(ctx, camera, p.image.ready && !p.image.failed ? p.image : null,
                   { frame: 16, frameColour: p === state.focus ? "#fff6d5" : "#ffffff", stripPx: 4 * ratio });
    }
  }

  var still = !!(window.matchMedia && window.matchMedia("(prefers-reduced-motion: reduce)").matches);
  var last = performance.now();
  function frame(now) {
    var dt = Math.min(64, now - last);
    last = now;
    var moving = false;
    if (!state.dragging) {
      if (Math.abs(state.spin) > 0.0002) {
        // A flicked drag keeps turning for a moment.
        state.yaw += state.spin;
        state.spin *= Math.pow(0.92, dt / 16.7);
        state.targetYaw = state.yaw;
        moving = true;
      } else if (!state.focus && !still && Date.now() - state.idleSince > 4000) {
        // Left alone, the room turns slowly by itself (unless the visitor
        // asked for less motion).
        state.yaw += 0.00025 * dt;
        state.targetYaw = state.yaw;
        moving = true;
      }
    }
    var nx = G.ease(state.x, state.targetX, 0.08, dt), nz = G.ease(state.z, state.targetZ, 0.08, dt);
    var ny = G.ease(state.yaw, state.targetYaw, 0.1, dt);
    if (Math.abs(nx - state.x) + Math.abs(nz - state.z) > 0.05 || Math.abs(ny - state.yaw) > 0.00005) moving = true;
    state.x = nx; state.z = nz; state.yaw = ny;
    camera.x = state.x; camera.z = state.z; camera.yaw = state.yaw;
    if (moving || state.dirty) {
      state.dirty = false;
      draw();
      publish();
    }
    requestAnimationFrame(frame);
  }
  // How wide picture n stands on the screen now, in CSS pixels (0 when it is
  // out of sight): lets a page's owner check the room from the console.
  window.photoRoom = {
    widthOnScreen: function (n) {
      var p = pictures[n - 1];
      var c = p && p.plane.facesCamera(camera) ? p.plane.corners(camera) : null;
      if (!c) return 0;
      var left = Math.max(0, Math.min(c[0].x, c[3].x)), right = Math.min(canvas.width, Math.max(c[1].x, c[2].x));
      return Math.max(0, right - left) / ratio;
    },
    // Where the middle of picture n stands on the screen, in CSS pixels.
    middleOnScreen: function (n) {
      var p = pictures[n - 1];
      var c = p && p.plane.facesCamera(camera) ? p.plane.corners(camera) : null;
      if (!c) return null;
      return [(c[0].x + c[1].x + c[2].x + c[3].x) / 4 / ratio, (c[0].y + c[1].y + c[2].y + c[3].y) / 4 / ratio];
    }
  };
  publish();
  requestAnimationFrame(frame);
})();
