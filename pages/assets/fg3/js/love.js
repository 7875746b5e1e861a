// Style 3's story on the 1100 x 680 canvas: a heart-shaped seed waits for a
// click, shrinks and drops to the ground, a tree grows branch by branch and
// blooms into a heart of 700 blossoms, slides right, and then the text is
// typed while blossoms fall. Steps wait 10 ms (25 ms for falling blossoms).
(function (global, $) {
  "use strict";
  var J = global.Jscex;
  var WIDTH = 1100, HEIGHT = 680, GROUND = 650, CENTER_X = 550;
  var SEED = { x: 550, y: 340, r: 60 };
  var CROWN = { x: 550, y: 300, size: 205 };

  // The same tree every time: a small seeded generator shapes the branches.
  function Random(seed) { this.state = seed; }
  Random.prototype.next = function () {
    this.state = (this.state * 1103515245 + 12345) % 2147483648;
    return this.state / 2147483648;
  };
  Random.prototype.between = function (a, b) { return a + (b - a) * this.next(); };

  function heartPath(ctx, x, y, size, angle) {
    ctx.save();
    ctx.translate(x, y);
    if (angle) ctx.rotate(angle);
    ctx.scale(size / 17, size / 17);
    ctx.beginPath();
    for (var t = 0; t < Math.PI * 2; t += 0.2) {
      var hx = 16 * Math.pow(Math.sin(t), 3);
      var hy = -(13 * Math.cos(t) - 5 * Math.cos(2 * t) - 2 * Math.cos(3 * t) - Math.cos(4 * t));
      if (t === 0) ctx.moveTo(hx, hy);
      else ctx.lineTo(hx, hy);
    }
    ctx.closePath();
    ctx.restore();
  }

  function Seed(ctx) {
    this.ctx = ctx;
    this.x = SEED.x;
    this.y = SEED.y;
    this.scale = 1;
    this.zoom = 1;
  }
  // Where the canvas is shown scaled down (a phone), the seed and its label
  // grow so that they stay about 100 px wide and 16 px high on the screen:
  // something a finger can find and hit.
  Seed.prototype.fit = function (shownWidth) {
    var shown = shownWidth / WIDTH;
    this.zoom = shown > 0 ? Math.min(3, Math.max(1, 0.92 / shown)) : 1;
  };
  Seed.prototype.draw = function () {
    var ctx = this.ctx, r = SEED.r * this.scale * this.zoom;
    heartPath(ctx, this.x, this.y, r, 0);
    ctx.fillStyle = "#e8194a";
    ctx.fill();
    if (this.scale > 0.6) {
      ctx.fillStyle = "#fff";
      ctx.font = Math.round(18 * this.scale * this.zoom) + "px sans-serif";
      ctx.textAlign = "center";
      ctx.fillText("\u70b9\u6211", this.x, this.y + 4 * this.zoom);  // "click me"
    }
  };
  Seed.prototype.hit = function (x, y) {
    var dx = x - this.x, dy = y - this.y;
    var r = SEED.r * this.zoom;
    return this.scale === 1 && dx * dx + dy * dy <= r * r * 1.1;
  };

  // A branch is a quadratic curve painted as a row of dots that thin out;
  // its children start growing when it is done.
  function Branch(start, control, end, radius, steps, children) {
    this.start = start;
    this.control = control;
    this.end = end;
    this.radius = radius;
    this.steps = steps;
    this.children = children;
    this.step = 0;
  }
  Branch.prototype.pointAt = function (t) {
    var u = 1 - t;
    return [u * u * this.start[0] + 2 * u * t * this.control[0] + t * t * this.end[0],
            u * u * this.start[1] + 2 * u * t * this.control[1] + t * t * this.end[1]];
  };
  Branch.prototype.grow = function (ctx) {
    var t = this.step / this.steps, p = this.pointAt(t);
    ctx.beginPath();
    ctx.arc(p[0], p[1], this.radius * (1 - 0.35 * t), 0, Math.PI * 2);
    ctx.fill();
    this.step++;
    return this.step <= this.steps;
  };

  function makeBranch(random, x, y, angle, length, radius, depth) {
    var end = [x + Math.sin(angle) * length, y - Math.cos(angle) * length];
    var bend = random.between(-0.25, 0.25) * length;
    var control = [(x + end[0]) / 2 + Math.cos(angle) * bend, (y + end[1]) / 2 + Math.sin(angle) * bend];
    var children = [];
    if (depth > 0) {
      var count = depth > 3 ? 2 : (random.next() < 0.5 ? 2 : 3);
      for (var i = 0; i < count; i++) {
        var spread = (i - (count - 1) / 2) * random.between(0.45, 0.75);
        children.push(makeBranch(random, end[0], end[1], angle * 0.6 + spread, length * random.between(0.62, 0.8),
                                 radius * 0.68, depth - 1));
      }
    }
    return new Branch([x, y], control, end, radius, Math.max(8, Math.round(length / 3)), children);
  }

  // Points inside a heart, for the 700 blossoms.
  function crownPoints(count) {
    var random = new Random(20131001), points = [];
    while (points.length < count) {
      var x = random.between(-1.2, 1.2), y = random.between(-1.05, 1.3);
      var a = x * x + y * y - 1;
      if (a * a * a - x * x * y * y * y <= 0)
        points.push([CROWN.x + x * CROWN.size, CROWN.y - y * CROWN.size]);
    }
    return points;
  }

  function blossomColor() {
    var hue = Math.random() < 0.8 ? 330 + Math.random() * 30 : Math.random() * 15;
    return "hsla(" + Math.round(hue) + ", 85%, " + Math.round(55 + Math.random() * 20) + "%, 0.85)";
  }

  function Blossom(x, y) {
    this.x = x;
    this.y = y;
    this.size = 5 + Math.random() * 8;
    this.angle = (Math.random() - 0.5) * 1.2;
    this.color = blossomColor();
  }
  Blossom.prototype.draw = function (ctx, dx) {
    heartPath(ctx, this.x + (dx || 0), this.y, this.size, this.angle);
    ctx.fillStyle = this.color;
    ctx.fill();
  };

  var sleep = J.Async.sleep, loop = J.Async.loop;

  function Story(canvas) {
    this.canvas = canvas;
    this.ctx = canvas.getContext("2d");
    this.seed = new Seed(this.ctx);
    this.blossoms = crownPoints(700).map(function (p) { return new Blossom(p[0], p[1]); });
    this.tree = makeBranch(new Random(7), CENTER_X, GROUND, 0, 190, 11, 6);
    this.offset = 0;
  }
  // How the canvas stands on the screen: scaled down on smaller screens,
  // and on phones cropped at its empty sides (the page's rules cover its
  // box with it, keeping its shape).
  Story.prototype.shown = function () {
    var box = this.canvas.getBoundingClientRect();
    var scale = Math.max(box.width / WIDTH, box.height / HEIGHT) || 1;
    return { scale: scale, left: box.left + (box.width - WIDTH * scale) / 2, top: box.top + (box.height - HEIGHT * scale) / 2 };
  };
  // Canvas coordinates of a pointer event.
  Story.prototype.point = function (event) {
    var m = this.shown();
    return [(event.clientX - m.left) / m.scale, (event.clientY - m.top) / m.scale];
  };
  // The seed's button: a real button over the drawn seed, for the keyboard
  // and screen readers (fingers and the mouse hit the canvas under it).
  // Pressed, it clicks the seed's middle.
  Story.prototype.placeSeedButton = function () {
    var button = document.getElementById("seed");
    if (!button || button.hidden) return;
    var m = this.shown(), wrap = button.offsetParent || document.body, origin = wrap.getBoundingClientRect();
    var r = SEED.r * this.seed.zoom * m.scale;
    button.style.left = (m.left - origin.left + SEED.x * m.scale - r) + "px";
    button.style.top = (m.top - origin.top + SEED.y * m.scale - r) + "px";
    button.style.width = button.style.height = 2 * r + "px";
  };
  Story.prototype.bindSeedButton = function () {
    var story = this, button = document.getElementById("seed");
    if (!button) return;
    button.hidden = false;
    button.addEventListener("click", function () {
      var m = story.shown();
      story.canvas.dispatchEvent(new MouseEvent("click", {
        bubbles: true, clientX: m.left + SEED.x * m.scale, clientY: m.top + SEED.y * m.scale
      }));
    });
    story.placeSeedButton();
    $(global).on("resize", function () { story.placeSeedButton(); });
  };
  Story.prototype.clear = function () { this.ctx.clearRect(0, 0, WIDTH, HEIGHT); };
  Story.prototype.drawGround = function (half) {
    var ctx = this.ctx;
    ctx.strokeStyle = "#6b3a2a";
    ctx.lineWidth = 2;
    ctx.beginPath();
    ctx.moveTo(CENTER_X - half, GROUND);
    ctx.lineTo(CENTER_X + half, GROUND);
    ctx.stroke();
  };

  // The whole story, as steps read top to bottom.
  Story.prototype.run = J.compile("async", function* () {
    var story = this, canvas = this.canvas, seed = this.seed, ctx = this.ctx;
    seed.fit(story.shown().scale * WIDTH);
    seed.draw();
    story.bindSeedButton();
    var hovering = function (event) {
      var p = story.point(event);
      canvas.style.cursor = seed.hit(p[0], p[1]) ? "pointer" : "default";
    };
    canvas.addEventListener("mousemove", hovering, false);
    yield J.Async.onEvent(canvas, "click", function (event) {
      var p = story.point(event);
      return seed.hit(p[0], p[1]);
    });
    canvas.removeEventListener("mousemove", hovering, false);
    canvas.style.cursor = "default";
    var button = document.getElementById("seed");
    if (button) button.hidden = true;

    // The seed shrinks, then drops to the ground.
    yield loop(function () {
      seed.scale = Math.max(0.2, seed.scale - 0.02);
      story.clear();
      seed.draw();
      return seed.scale > 0.2;
    }, 10);
    yield loop(function () {
      seed.y = Math.min(GROUND - 4, seed.y + 6);
      story.clear();
      seed.draw();
      return seed.y < GROUND - 4;
    }, 10);
    var half = 0;
    yield loop(function () {
      half += 16;
      story.drawGround(half);
      return half < 520;
    }, 10);
    story.clear();
    story.drawGround(520);

    // The tree grows: every growing branch advances one dot per step.
    ctx.fillStyle = "#8b4a2b";
    var growing = [this.tree];
    yield loop(function () {
      var next = [];
      for (var i = 0; i < growing.length; i++) {
        if (growing[i].grow(ctx)) next.push(growing[i]);
        else next.push.apply(next, growing[i].children);
      }
      growing = next;
      return growing.length > 0;
    }, 10);

    // 700 blossoms open, ten per step.
    var blossoms = this.blossoms, opened = 0;
    yield loop(function () {
      for (var end = Math.min(opened + 10, blossoms.length); opened < end; opened++) blossoms[opened].draw(ctx);
      return opened < blossoms.length;
    }, 10);

    // The tree slides right where the text stands beside it.
    var picture = document.createElement("canvas");
    picture.width = WIDTH;
    picture.height = HEIGHT;
    picture.getContext("2d").drawImage(canvas, 0, 0);
    var distance = $(global).width() >= WIDTH ? 260 : 0;
    yield loop(function () {
      story.offset = Math.min(distance, story.offset + 4);
      story.clear();
      ctx.drawImage(picture, story.offset, 0);
      return story.offset < distance;
    }, 10);

    startFalling(story, blossoms);
    yield new J.Task(function (ok) { $("#code").typewriter(75, ok); });
    yield new J.Task(function (ok) { $("#clock-box").fadeIn(500, ok); });
  });

  // Blossoms keep falling from the crown, on a canvas laid over the tree.
  function startFalling(story, blossoms) {
    var overlay = document.createElement("canvas");
    overlay.width = WIDTH;
    overlay.height = HEIGHT;
    overlay.className = "falling";
    story.canvas.parentNode.insertBefore(overlay, story.canvas.nextSibling);
    var ctx = overlay.getContext("2d"), falling = [], tick = 0;
    setInterval(function () {
      if (tick++ % 3 === 0 && falling.length < 40) {
        var from = blossoms[Math.floor(Math.random() * blossoms.length)];
        var b = new Blossom(from.x + story.offset, from.y);
        b.vx = -0.6 + Math.random() * 1.2;
        b.vy = 1 + Math.random() * 1.5;
        b.spin = (Math.random() - 0.5) * 0.08;
        falling.push(b);
      }
      ctx.clearRect(0, 0, WIDTH, HEIGHT);
      var still = [];
      for (var i = 0; i < falling.length; i++) {
        var f = falling[i];
        f.x += f.vx;
        f.y += f.vy;
        f.angle += f.spin;
        if (f.y < HEIGHT + 20) {
          f.draw(ctx);
          still.push(f);
        }
      }
      falling = still;
    }, 25);
  }

  // Starts the page: the seed waits on the canvas; the clock ticks every
  // second from `together`.
  global.startLoveStory = function (together) {
    var canvas = document.getElementById("canvas");
    global.timeElapse(together);
    setInterval(function () { global.timeElapse(together); }, 1000);
    new Story(canvas).run().start();
  };
})(window, jQuery);
