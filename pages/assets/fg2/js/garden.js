// A garden of blooms on a canvas: each bloom grows its petals over a few
// frames and then stays painted, so a frame only touches growing blooms.
(function (global) {
  "use strict";

  function random(min, max) { return min + Math.random() * (max - min); }

  function Petal(stretchA, stretchB, startAngle, angle, growFactor, bloom) {
    this.stretchA = stretchA;
    this.stretchB = stretchB;
    this.startAngle = startAngle;
    this.angle = angle;
    this.growFactor = growFactor;
    this.bloom = bloom;
    this.r = 1;
    this.finished = false;
  }
  Petal.prototype.draw = function () {
    var ctx = this.bloom.garden.ctx;
    var v1 = polar(this.r, this.startAngle), v2 = polar(this.r, this.startAngle + this.angle);
    var v3 = polar(this.r * this.stretchA, this.startAngle + this.angle / 3);
    var v4 = polar(this.r * this.stretchB, this.startAngle + this.angle * 2 / 3);
    var p = this.bloom.p;
    ctx.beginPath();
    ctx.moveTo(p[0] + v1[0], p[1] + v1[1]);
    ctx.bezierCurveTo(p[0] + v3[0], p[1] + v3[1], p[0] + v4[0], p[1] + v4[1], p[0] + v2[0], p[1] + v2[1]);
    ctx.strokeStyle = this.bloom.color;
    ctx.stroke();
  };
  Petal.prototype.render = function () {
    if (this.r <= this.bloom.r) {
      this.r += this.growFactor;
      this.draw();
    } else {
      this.finished = true;
    }
  };

  function polar(r, degrees) {
    var a = degrees * Math.PI / 180;
    return [r * Math.cos(a), r * Math.sin(a)];
  }

  function Bloom(p, r, color, petalCount, garden) {
    this.p = p;
    this.r = r;
    this.color = color;
    this.garden = garden;
    this.petals = [];
    var angle = 360 / petalCount, start = random(0, 90);
    for (var i = 0; i < petalCount; i++) {
      this.petals.push(new Petal(random(Garden.options.petalStretch.min, Garden.options.petalStretch.max),
                                 random(Garden.options.petalStretch.min, Garden.options.petalStretch.max),
                                 start + i * angle, angle,
                                 random(Garden.options.growFactor.min, Garden.options.growFactor.max), this));
    }
  }
  Bloom.prototype.draw = function () {
    var done = true;
    this.garden.ctx.save();
    for (var i = 0; i < this.petals.length; i++) {
      this.petals[i].render();
      done = done && this.petals[i].finished;
    }
    this.garden.ctx.restore();
    return done;
  };

  function Garden(ctx, element) {
    this.ctx = ctx;
    this.element = element;
    this.growing = [];
    this.count = 0;
  }
  Garden.options = {
    petalCount: { min: 8, max: 15 },
    petalStretch: { min: 0.1, max: 3 },
    growFactor: { min: 0.1, max: 1 },
    bloomRadius: { min: 8, max: 10 },
    density: 10,
    growSpeed: 1000 / 60,
    color: { rmin: 128, rmax: 255, gmin: 0, gmax: 128, bmin: 0, bmax: 128, opacity: 0.1 },
    tanAngle: 60
  };
  Garden.prototype.createRandomBloom = function (x, y, scale) {
    var o = Garden.options, s = scale || 1;
    var color = "rgba(" + Math.round(random(o.color.rmin, o.color.rmax)) + "," +
                Math.round(random(o.color.gmin, o.color.gmax)) + "," +
                Math.round(random(o.color.bmin, o.color.bmax)) + "," + o.color.opacity + ")";
    this.growing.push(new Bloom([x, y], random(o.bloomRadius.min, o.bloomRadius.max) * s, color,
                                Math.round(random(o.petalCount.min, o.petalCount.max)), this));
    this.count++;
  };
  // One frame: grow every unfinished bloom a little.
  Garden.prototype.render = function () {
    var still = [];
    for (var i = 0; i < this.growing.length; i++)
      if (!this.growing[i].draw()) still.push(this.growing[i]);
    this.growing = still;
  };
  Garden.prototype.clear = function () {
    this.ctx.clearRect(0, 0, this.element.width, this.element.height);
    this.growing = [];
    this.count = 0;
  };

  global.Garden = Garden;
})(window);
