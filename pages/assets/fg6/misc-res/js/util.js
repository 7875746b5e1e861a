/* Page helpers of the photo room: rainbow words and music that starts even
   where the browser refuses sound before the visitor has interacted. */
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
      for (var i = 0; i < spans.length; i++)
        spans[i].style.color = "hsl(" + ((phase + i * 24) % 360) + ",85%,50%)";
    }
    paint();
    return setInterval(paint, 120);
  }

  // Keep the automatic start; when it is refused, start on the first click,
  // tap or key press instead.
  function music(audio) {
    if (!audio || !audio.getAttribute("src")) return;
    var events = ["pointerdown", "touchstart", "keydown"];
    function retry() {
      for (var i = 0; i < events.length; i++) document.removeEventListener(events[i], retry, true);
      var again = audio.play();
      if (again && again.catch) again.catch(function () {});
    }
    var started = audio.play();
    if (started && started.catch) {
      started.catch(function () {
        for (var i = 0; i < events.length; i++) document.addEventListener(events[i], retry, true);
      });
    }
  }

  global.roomUtil = { rainbow: rainbow, music: music };

  var big = document.getElementById("big"), small = document.getElementById("small");
  rainbow(big, 10);
  rainbow(small, 6);
  music(document.getElementById("bgm"));
})(window);
