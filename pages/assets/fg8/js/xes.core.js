/* Core helpers of the slider page: music that starts even where sound must
   wait for the visitor, and the side box that bounces open with a new text. */
(function (global, $) {
  "use strict";

  var XES = {};

  // Keep the automatic start; when the browser refuses it, start on the
  // first click, tap or key press.
  XES.music = function (audio) {
    if (!audio) return;
    var source = audio.querySelector("source");
    if (source && !source.getAttribute("src")) return;  // no music chosen
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
  };

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
