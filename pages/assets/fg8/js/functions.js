/* The six-slide vertical slider: advances by itself every 5 s with a 1 s
   slide and wraps after the last; the arrows and the numbered buttons move it
   by hand. Every change bounces the side box open with that slide's middle
   text. The slider plugin is loaded after this file, so all of it waits for
   the document to be ready. */
(function (global, $) {
  "use strict";

  var TIMEOUT = 5000, SPEED = 1000, BOUNCE = 800;

  function middleText(index) {
    var list = global.middleTexts || [];
    return index < list.length ? list[index] : "";
  }

  $(function () {
    var $slider = $("#slider");
    var ready = false;
    // The slide shown and when the slider started, for whoever inspects the page.
    $("body").attr("data-slide", "1").attr("data-changes", "0").attr("data-started", String(Date.now()));
    global.XES.music(document.getElementById("bgm"));
    if (!$.fn.cycle) return;

    $slider.cycle({
      fx: "scrollVert",
      speed: SPEED,
      timeout: TIMEOUT,
      easing: "easeInOutCubic",
      next: "#down",
      prev: "#up",
      pager: "#pager",
      pagerAnchorBuilder: function (index) { return "#pager a:nth-child(" + (index + 1) + ")"; },
      pause: false,
      cleartypeNoBg: true,
      containerResize: false,
      slideResize: false,
      fit: false,
      before: function (current, next, options) {
        // The plugin also calls this for the first slide; the box keeps its
        // own greeting until the first real change.
        if (!ready) return;
        var index = options.nextSlide;
        $("body").attr("data-slide", String(index + 1))
                 .attr("data-changes", String(+$("body").attr("data-changes") + 1));
        global.XES.bounceOpen("#sideBox", "#sideText", middleText(index), BOUNCE);
      }
    });
    ready = true;
  });
})(window, window.jQuery);
