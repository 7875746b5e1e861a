// Falling snow over the whole page: $.fn.snow({ minSize, maxSize, newOn,
// flakeColor }). Each flake falls by a CSS transition, so the main thread only
// adds and removes flakes. Every flake is drawn at one font size and scaled
// to its own: a new font size costs the renderer a blocking round trip to the
// browser for the font's settings, up to a tenth of a second on a busy
// machine, and random sizes would make nearly every flake a new one.
(function ($) {
  "use strict";
  $.fn.snow = function (options) {
    var settings = $.extend({ minSize: 10, maxSize: 20, newOn: 500, flakeColor: "#FFFFFF" }, options);
    // Visitors who asked for less motion see no snow at all.
    if (window.matchMedia && window.matchMedia("(prefers-reduced-motion: reduce)").matches) return { stop: function () {} };
    // Decoration only: screen readers never read the flakes out.
    var template = $('<div class="snowflake" aria-hidden="true">&#10052;</div>');
    var timer = setInterval(function () {
      var width = document.documentElement.clientWidth, height = window.innerHeight;
      var size = settings.minSize + Math.random() * (settings.maxSize - settings.minSize);
      var startX = Math.random() * width - 20, endX = startX - 100 + Math.random() * 200;
      var duration = height * 10 + Math.random() * 5000;
      var scale = " scale(" + size / settings.maxSize + ")";
      var flake = template.clone().css({
        left: startX + "px", opacity: 0.5 + Math.random() * 0.5, fontSize: settings.maxSize + "px",
        "--snow-unscale": String(settings.maxSize / size),  // keeps the glow at its size on screen
        color: settings.flakeColor, transformOrigin: "0 0", transform: "translate(0, 0)" + scale,
        transition: "transform " + duration + "ms linear, opacity " + duration + "ms linear"
      }).appendTo("body");
      var element = flake[0];
      element.getBoundingClientRect();  // commit the start position before moving
      element.style.transform = "translate(" + (endX - startX) + "px, " + (height + 80) + "px)" + scale;
      element.style.opacity = "0.2";
      var remove = function () { flake.remove(); };
      element.addEventListener("transitionend", remove, { once: true });
      setTimeout(remove, duration + 1000);  // a transition that never ran
    }, settings.newOn);
    return { stop: function () { clearInterval(timer); } };
  };
})(jQuery);
