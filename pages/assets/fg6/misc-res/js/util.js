/* Page helpers of the photo room: rainbow words. The music is
   common/first-play.js's. */
(function (global) {
  "use strict";

  // How much light a colour gives the eye (WCAG's relative luminance).
  function luminance(hue, saturation, light) {
    var chroma = (1 - Math.abs(2 * light - 1)) * saturation, sector = hue / 60;
    var second = chroma * (1 - Math.abs(sector % 2 - 1)), least = light - chroma / 2;
    var rgb = sector < 1 ? [chroma, second, 0] : sector < 2 ? [second, chroma, 0] :
        sector < 3 ? [0, chroma, second] : sector < 4 ? [0, second, chroma] :
        sector < 5 ? [second, 0, chroma] : [chroma, 0, second];
    var linear = rgb.map(function (c) {
      c += least;
      return c <= 0.04045 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4);
    });
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2];
  }
  // The lightness of each hue that reads on the light plate, a contrast of
  // 4.5:1 or more even where the room behind the plate is darker than the
  // page: yellows and cyans need far less light than reds and blues.
  var lightness = [];
  for (var h = 0; h < 360; h++) {
    var l = 46;
    while (l > 18 && luminance(h, 0.85, l / 100) > 0.13) l -= 1;
    lightness.push(l);
  }

  // Every character gets its own hue, and the hues keep flowing along the text.
  function rainbow(element, speed) {
    if (!element) return;
    var text = element.textContent, chars = Array.from ? Array.from(text) : text.split("");
    element.textContent = "";
    var spans = [];
    for (var i = 0; i < chars.length; i++) {
      var span = document.createElement("span");
      span.textContent = chars[i];
      element.appendChild(span);
      spans.push(span);
    }
    var phase = 0;
    function paint() {
      phase = (phase + (speed || 8)) % 360;
      for (var i = 0; i < spans.length; i++) {
        var hue = Math.round(phase + i * 24) % 360;
        spans[i].style.color = "hsl(" + hue + ",85%," + lightness[hue] + "%)";
      }
    }
    paint();
    // Visitors who asked for less motion get the colours standing still.
    if (still) return null;
    return setInterval(paint, 120);
  }
  var still = !!(global.matchMedia && global.matchMedia("(prefers-reduced-motion: reduce)").matches);

  global.roomUtil = { rainbow: rainbow };

  var big = document.getElementById("big"), small = document.getElementById("small");
  rainbow(big, 10);
  rainbow(small, 6);
})(window);
