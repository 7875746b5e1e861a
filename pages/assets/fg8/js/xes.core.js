/* Core helpers of the slider page: the side box that bounces open with a new
   text. The music is common/first-play.js's. */
(function (global, $) {
  "use strict";

  var XES = {};

  // Closes the box, puts the text in and lets it bounce open over `ms`.
  XES.bounceOpen = function (box, textElement, text, ms) {
    var $box = $(box), $text = $(textElement);
    $box.stop(true, false).css("height", 0);
    $text.text(text);
    var full = $text.outerHeight(true);
    $box.animate({ height: full }, ms, $.easing.easeOutBounce ? "easeOutBounce" : "swing", function () {
      $box.css("height", "");
    });
  };

  global.XES = XES;
})(window, window.jQuery);
