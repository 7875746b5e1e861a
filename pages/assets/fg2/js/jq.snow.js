// Falling snow over the whole page: $.fn.snow({ minSize, maxSize, newOn,
// flakeColor }). Each flake falls by a CSS transition, so the main thread only
// adds and removes flakes.
(function ($) {
  "use strict";
  $.fn.snow = function (options) {
    var settings = $.extend({ minSize: 10, maxSize: 20, newOn: 500, flakeColor: "#FFFFFF" }, options);
    var template = $('<div class="snowflake">&#10052;</div>');
    var timer = setInterval(function () {
      var width = document.documentElement.clientWidth, height = window.innerHeight;
      var size = settings.minSize + Math.random() * (settings.maxSize - settings.minSize);
      var startX = Math.random() * width - 20, endX = startX - 100 + Math.random() * 200;
      var duration = height * 10 + Math.random() * 5000;
      var flake = template.clone().css({
        left: startX + "px", opacity: 0.5 + Math.random() * 0.5, fontSize: size + "px",
        color: settings.flakeColor, transform: "translate(0, 0)",
        transition: "transform " + duration + "ms linear, opacity " + duration + "ms linear"
      }).appendTo("body");
      var element = flake[0];
      element.getBoundingClientRect();  // commit the start position before moving
      element.style.transform = "translate(" + (endX - startX) + "px, " + (height + 80) + "px)";
      element.style.opacity = "0.2";
      var remove = function () { flake.remove(); };
      element.addEventListener("transitionend", remove, { once: true });
      setTimeout(remove, duration + 1000);  // a transition that never ran
    }, settings.newOn);
    return { stop: function () { clearInterval(timer); } };
  };
})(jQuery);
