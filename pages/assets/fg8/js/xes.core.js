/* Core helpers of the slider page: the side box that bounces open with a new
   text. The music is common/first-play.js's. */
(function (global, $) {
  "use strict";

  var XES = {};

  // Puts the text in and lets the box bounce open over `ms`. It opens from
  // two thirds of its size, the new text whole inside it from the first
  // frame: a box shut to nothing or cut through its words mid-slide reads
  // as broken, not as a bounce. Its place in the panel stays the size of
  // the text all the while, so nothing around it moves.
  XES.bounceOpen = function (box, textElement, text, ms) {
    var element = $(box)[0];
    if (!element) return;
    $(textElement).text(text);
    if (element.bounce) element.bounce.stop(true, false);
    var easing = $.easing.easeOutBounce ? "easeOutBounce" : "swing";
    element.style.transform = "scale(0.66)";
    element.bounce = $({ scale: 0.66 }).animate({ scale: 1 }, {
      duration: ms,
      easing: easing,
      step: function (now) { element.style.transform = "scale(" + now.toFixed(4) + ")"; },
      complete: function () { element.style.transform = ""; }
    });
  };

  global.XES = XES;
})(window, window.jQuery);
