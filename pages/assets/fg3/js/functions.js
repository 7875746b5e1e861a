// Style 3's page helpers: the typed text column and the elapsed-time clock.
(function (global, $) {
  "use strict";

  // Types an element's HTML out character by character; tags and entities
  // appear whole. `done` runs when the whole text stands.
  $.fn.typewriter = function (delay, done) {
    this.each(function () {
      var element = $(this), html = element.html(), progress = 0;
      element.html("").show();
      var timer = setInterval(function () {
        var current = html.charAt(progress);
        if (current === "<") progress = html.indexOf(">", progress) + 1 || html.length;
        else if (current === "&") progress = html.indexOf(";", progress) + 1 || html.length;
        else progress++;
        var finished = progress >= html.length;
        element.html(html.substring(0, progress) + (finished || (progress & 1) ? "" : "_"));
        if (finished) {
          clearInterval(timer);
          if (done) done();
        }
      }, delay || 75);
    });
    return this;
  };

  function pad(n) { return n < 10 ? "0" + n : String(n); }

  // "Day N, HH hours MM minutes SS seconds" since `since`, in Chinese. Each
  // number keeps its unit on its line when a narrow screen wraps the clock.
  var clockTemplate = '<span class="unit">\u7b2c <span class="digit">{days}</span> \u5929</span> ' +
    '<span class="unit"><span class="digit">{hours}</span> \u5c0f\u65f6</span> ' +
    '<span class="unit"><span class="digit">{minutes}</span> \u5206\u949f</span> ' +
    '<span class="unit"><span class="digit">{seconds}</span> \u79d2</span>';
  global.timeElapse = function (since) {
    var seconds = Math.max(0, Math.floor((Date.now() - since.getTime()) / 1000));
    var days = Math.floor(seconds / 86400);
    seconds %= 86400;
    var hours = Math.floor(seconds / 3600);
    seconds %= 3600;
    $("#clock").html(Jscex.format(clockTemplate, {
      days: days, hours: pad(hours), minutes: pad(Math.floor(seconds / 60)), seconds: pad(seconds % 60)
    }));
  };
})(window, jQuery);
