/* Page helpers of the photo room: rainbow words. The music is
   common/first-play.js's. */
(function (global) {
  "use strict";

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
      // Yellows, greens and cyans are far brighter than reds and blues of
      // the same lightness: darker, they read on the light plate as well.
      for (var i = 0; i < spans.length; i++) {
        var hue = (phase + i * 24) % 360;
        spans[i].style.color = "hsl(" + hue + ",85%," + (hue >= 35 && hue <= 200 ? 28 : 42) + "%)";
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
