/* Style rules that depend on the window: picks the wide or the tall layout
   of the slider page and scales its stage to fit, by writing one style sheet
   that is rewritten when the window changes. Needs no library, and runs in
   the head so that the first paint already has the right size. */
(function (global) {
  "use strict";

  var WIDE = { width: 920, height: 560 }, TALL = { width: 640, height: 1180 };
  var sheet = document.createElement("style");
  sheet.id = "jscss";
  (document.head || document.documentElement).appendChild(sheet);

  function layout() {
    var w = global.innerWidth || document.documentElement.clientWidth;
    var h = global.innerHeight || document.documentElement.clientHeight;
    var tall = w < 760 && h > w;
    var design = tall ? TALL : WIDE;
    var scale = Math.min(w / design.width, h / design.height) * 0.96;
    if (!(scale > 0)) scale = 1;
    document.documentElement.className = tall ? "tall" : "wide";
    sheet.textContent = "#stage{transform:translate(" + (-design.width * scale) / 2 + "px," + (-design.height * scale) / 2 +
      "px) scale(" + scale.toFixed(4) + ");}";
    global.stageScale = scale;
  }

  layout();
  global.addEventListener("resize", layout);
  global.addEventListener("orientationchange", layout);
})(window);
