// Style 2's page: the typed letter, the heart drawn by the garden and the
// time since the day the two met.
(function (global, $) {
  "use strict";

  // Types an element's HTML out character by character; tags and entities
  // appear whole, so the letter's own markup (<br>) works while it is typed.
  $.fn.typewriter = function (delay, done) {
    this.each(function () {
      var element = $(this), html = element.html(), progress = 0;
      element.html("");
      var timer = setInterval(function () {
        var current = html.charAt(progress);
        if (current === "<") progress = html.indexOf(">", progress) + 1 || html.length;
        else if (current === "&") progress = html.indexOf(";", progress) + 1 || html.length;
        else progress++;
        var finished = progress >= html.length;
        element.html(html.substring(0, progress) + (finished || (progress & 1) ? "" : '<span class="caret">_</span>'));
        // Where the letter scrolls in a box of its own (phones), the box
        // follows the typing.
        element[0].scrollTop = element[0].scrollHeight;
        if (finished) {
          clearInterval(timer);
          // Told to the page's question, which waits for the whole letter.
          element.attr("data-typed", "done");
          if (done) done();
        }
      }, delay || 75);
    });
    return this;
  };

  var garden, canvas, scale = 1, offsetX = 0, offsetY = 0;

  function sizeGarden() {
    var box = $("#loveHeart");
    canvas = document.getElementById("garden");
    canvas.width = Math.round(box.width());
    canvas.height = Math.round(box.height());
    scale = canvas.width / 670;
    offsetX = canvas.width / 2;
    offsetY = canvas.height / 2 - 55 * scale;
    var ctx = canvas.getContext("2d");
    ctx.globalCompositeOperation = "lighter";
    garden = new global.Garden(ctx, canvas);
  }

  function heartPoint(angle) {
    var t = angle / Math.PI;
    var x = 19.5 * (16 * Math.pow(Math.sin(t), 3));
    var y = -20 * (13 * Math.cos(t) - 5 * Math.cos(2 * t) - 2 * Math.cos(3 * t) - Math.cos(4 * t));
    return [offsetX + x * scale, offsetY + y * scale];
  }

  // The words stand inside the heart: a long message shrinks as a whole,
  // clock and signature with it, until it ends where the outline is still
  // wide enough to hold its lines (160 of the heart's units below its
  // centre, 340 being its tip). Scaling leaves the layout as it is.
  function fitWords() {
    var words = document.getElementById("words"), loveu = document.getElementById("loveu");
    var shown = loveu.style.display;
    words.style.transform = "";
    loveu.style.visibility = "hidden";
    loveu.style.display = "block";
    var height = words.offsetHeight, room = offsetY + 160 * scale - words.offsetTop;
    loveu.style.display = shown;
    loveu.style.visibility = "";
    if (height > room && room > 0) {
      words.style.transformOrigin = "50% 0";
      words.style.transform = "scale(" + Math.max(0.45, room / height).toFixed(3) + ")";
    }
  }

  function showMessages() {
    $("#words").css("opacity", 0).show();
    fitWords();
    $("#words").animate({ opacity: 1 }, 3000, function () { $("#loveu").fadeIn(2000); });
  }

  // Plants blooms along the heart's outline, then shows the words inside.
  function startHeartAnimation() {
    var angle = 10, planted = [];
    var frames = setInterval(function () { garden.render(); }, global.Garden.options.growSpeed);
    var planting = setInterval(function () {
      var p = heartPoint(angle), free = true;
      for (var i = 0; i < planted.length; i++) {
        var dx = planted[i][0] - p[0], dy = planted[i][1] - p[1];
        if (Math.sqrt(dx * dx + dy * dy) < global.Garden.options.bloomRadius.max * 1.3 * scale) {
          free = false;
          break;
        }
      }
      if (free) {
        planted.push(p);
        garden.createRandomBloom(p[0], p[1], scale);
      }
      if (angle >= 30) {
        clearInterval(planting);
        setTimeout(function () { clearInterval(frames); }, 3000);
        showMessages();
      } else {
        angle += 0.2;
      }
    }, 50);
  }

  function pad(n) { return n < 10 ? "0" + n : String(n); }

  // Days, hours, minutes and seconds since `since`, in Chinese.
  function timeElapse(since) {
    var seconds = Math.max(0, Math.floor((Date.now() - since.getTime()) / 1000));
    var days = Math.floor(seconds / 86400);
    seconds %= 86400;
    var hours = Math.floor(seconds / 3600);
    seconds %= 3600;
    var minutes = Math.floor(seconds / 60);
    seconds %= 60;
    $("#elapseClock").html('<span class="digit">' + days + '</span> \u5929 <span class="digit">' + pad(hours) +
      '</span> \u5c0f\u65f6 <span class="digit">' + pad(minutes) + '</span> \u5206\u949f <span class="digit">' + pad(seconds) +
      '</span> \u79d2');
  }

  // The whole page: snow, the letter typed out, the clock, and the heart after 5 s.
  global.startLovePage = function (together) {
    $.fn.snow({ minSize: 5, maxSize: 35, newOn: 120 });
    sizeGarden();
    $("#code").typewriter(60);
    timeElapse(together);
    setInterval(function () { timeElapse(together); }, 500);
    setTimeout(startHeartAnimation, 5000);
  };
  global.timeElapse = timeElapse;
})(window, jQuery);
