/* The six-slide vertical slider: advances by itself every 5 s with a 1 s
   slide and wraps after the last; the arrows and the numbered buttons move it
   by hand. Every change bounces the side box open with that slide's middle
   text. The slider plugin is loaded after this file, so all of it waits for
   the document to be ready. */
(function (global, $) {
  "use strict";

  var TIMEOUT = 5000, SPEED = 1000, BOUNCE = 800;

  // The slider plugin moves the slides by their `top`; for the slides that
  // becomes a transform, which moves them on the screen without laying the
  // page out again, so the page never shifts under the visitor's eyes.
  var plainTop = $.cssHooks.top;
  $.cssHooks.top = {
    get: function (elem, computed, extra) {
      if ($(elem).hasClass("slide")) return (elem.slideTop || 0) + "px";
      return plainTop && plainTop.get ? plainTop.get.call(plainTop, elem, computed, extra) : undefined;
    },
    set: function (elem, value) {
      if (!$(elem).hasClass("slide")) return value;
      elem.slideTop = parseFloat(value) || 0;
      elem.style.transform = "translateY(" + elem.slideTop + "px)";
      return undefined;
    }
  };

  function middleText(index) {
    var list = global.middleTexts || [];
    return index < list.length ? list[index] : "";
  }

  // The greeting in the side box before the first change is the sender's
  // own first line of the first slide (the words before its first break).
  function greeting() {
    var heading = document.querySelector("#slide1 h2"), text = "";
    if (!heading) return "";
    for (var node = heading.firstChild; node && node.nodeName !== "BR"; node = node.nextSibling) text += node.textContent;
    return $.trim(text);
  }

  // The side box takes the room between the logo and the buttons: a long
  // greeting shrinks until it fits there, down to a size still read on a
  // phone on its side (the stage is scaled down: the bound is on the
  // screen), then takes the logo's room too, and only past that scrolls
  // within the box, never running under the buttons.
  var SMALLEST_ON_SCREEN = 12;
  function fitSide() {
    var side = document.getElementById("side"), box = document.getElementById("sideBox");
    var text = document.getElementById("sideText"), nav = document.getElementById("nav");
    if (!side || !box || !text || !nav) return;
    var smallest = SMALLEST_ON_SCREEN / (global.stageScale || 1), room = 0;
    function shrink() {
      room = Math.max(0, nav.offsetTop - box.offsetTop - 8);
      box.style.maxHeight = room + "px";
      text.style.fontSize = "";
      var size = parseFloat(global.getComputedStyle(text).fontSize);
      while (text.offsetHeight > room && size - 1 >= smallest) {
        size -= 1;
        text.style.fontSize = size + "px";
      }
      return text.offsetHeight <= room;
    }
    $(side).removeClass("crowded");
    box.style.overflowY = "hidden";
    if (shrink()) return;
    $(side).addClass("crowded");
    if (!shrink()) box.style.overflowY = "auto";
  }
  global.addEventListener("resize", fitSide);

  $(function () {
    var $slider = $("#slider");
    var ready = false;
    var first = greeting();
    if (first) $("#sideText").text(first);
    fitSide();
    // The slide shown and when the slider started, for whoever inspects the page.
    $("body").attr("data-slide", "1").attr("data-changes", "0").attr("data-started", String(Date.now()));
    if (!$.fn.cycle) return;

    $slider.cycle({
      fx: "scrollVert",
      speed: SPEED,
      // Visitors who asked for less motion move the slides themselves.
      timeout: global.matchMedia && global.matchMedia("(prefers-reduced-motion: reduce)").matches ? 0 : TIMEOUT,
      easing: "easeInOutCubic",
      // The next slide comes up from below, as a finger pushes the page
      // away, so its heading leads it in rather than arriving last.
      rev: true,
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
        headings(current, next);
        $("body").attr("data-slide", String(index + 1))
                 .attr("data-changes", String(+$("body").attr("data-changes") + 1));
        global.XES.bounceOpen("#sideBox", "#sideText", middleText(index), BOUNCE);
        fitSide();
      }
    });
    ready = true;
    bindGestures();
  });

  // A heading never shows cut by the slider's edge: the one leaving fades
  // before it reaches the edge, the one coming fades in once it is inside.
  function headings(current, next) {
    $(current).find("h2").stop(true, false).animate({ opacity: 0 }, SPEED / 5);
    $(next).find("h2").stop(true, false).css("opacity", 0).delay(SPEED * 0.6).animate({ opacity: 1 }, SPEED * 0.4);
  }

  // Besides the arrows and buttons: the wheel, the keys and a swipe move the
  // slider one slide, through the arrows' own handlers so that the plugin
  // keeps its timer and pager right. A gesture during a slide is ignored:
  // one flick of a wheel sends dozens of events.
  function bindGestures() {
    var busyUntil = 0;
    function go(forward) {
      var now = Date.now();
      if (now < busyUntil) return;
      busyUntil = now + SPEED + 100;
      $(forward ? "#down" : "#up").trigger("click");
    }
    $(document).on("keydown", function (e) {
      if (e.altKey || e.ctrlKey || e.metaKey) return;
      var key = e.key;
      var forward = ["ArrowDown", "ArrowRight", "PageDown", " ", "Spacebar"];
      if (forward.indexOf(key) >= 0) go(true);
      else if (key === "ArrowUp" || key === "ArrowLeft" || key === "PageUp") go(false);
      else return;
      e.preventDefault();
    });
    global.addEventListener("wheel", function (e) {
      if (Math.abs(e.deltaY) < 4) return;
      e.preventDefault();
      go(e.deltaY > 0);
    }, { passive: false });
    var start = null;
    var stage = document.getElementById("stage") || document.body;
    stage.addEventListener("touchstart", function (e) {
      start = e.touches.length === 1 ? { x: e.touches[0].clientX, y: e.touches[0].clientY } : null;
    }, { passive: true });
    stage.addEventListener("touchend", function (e) {
      if (!start || !e.changedTouches.length) return;
      var dx = e.changedTouches[0].clientX - start.x, dy = e.changedTouches[0].clientY - start.y;
      start = null;
      // Up or left brings the next slide, as a finger pushes a page away.
      if (Math.max(Math.abs(dx), Math.abs(dy)) < 40) return;
      go(Math.abs(dy) >= Math.abs(dx) ? dy < 0 : dx < 0);
    }, { passive: true });
  }
})(window, window.jQuery);
