// Browsers refuse music with sound until the visitor interacts: start it on
// the first click, tap or key press if the automatic start was refused.
(function () {
  var events = ["pointerdown", "touchend", "keydown", "click"];
  function play() {
    var all = document.getElementsByTagName("audio");
    for (var i = 0; i < all.length; i++) {
      if (!all[i].paused) continue;
      var started = all[i].play();
      if (started && started.catch) started.catch(function () {});
    }
  }
  function first() {
    play();
    for (var i = 0; i < events.length; i++) document.removeEventListener(events[i], first, true);
  }
  for (var i = 0; i < events.length; i++) document.addEventListener(events[i], first, true);
  play();
})();
