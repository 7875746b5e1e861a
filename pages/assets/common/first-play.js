// Background music of a published page, one sound at a time:
// - browsers refuse music with sound until the visitor interacts, so it is
//   started on the first click, tap or key press if the automatic start was
//   refused;
// - a page with several background sounds plays them in turn, each to its
//   end, never two together;
// - while a video plays with its sound on, the music waits and goes on when
//   the video pauses or ends.
(function () {
  var events = ["pointerdown", "touchend", "keydown", "click"];
  var sounds = Array.prototype.slice.call(document.getElementsByTagName("audio"));
  var current = 0;
  var wanted = false; // the music should be playing, were it not for a video
  var videoAudible = false;

  function start(audio) {
    var started = audio.play();
    if (started && started.catch) started.catch(function () {});
  }
  function play() {
    wanted = true;
    if (!sounds.length || videoAudible) return;
    if (sounds[current].paused) start(sounds[current]);
  }
  if (sounds.length > 1) {
    sounds.forEach(function (audio, i) {
      audio.loop = false;
      audio.autoplay = i === 0;
      if (i > 0 && !audio.paused) audio.pause();
      audio.addEventListener("ended", function () {
        current = (i + 1) % sounds.length;
        if (!videoAudible) start(sounds[current]);
      });
      // Anything else that starts one of them (the page's own music switch)
      // still leaves only that one playing.
      audio.addEventListener("play", function () {
        current = i;
        sounds.forEach(function (other) { if (other !== audio && !other.paused) other.pause(); });
      });
    });
  }

  function audible(video) { return !video.paused && !video.ended && !video.muted && video.volume > 0; }
  function videoChanged(e) {
    if (!e.target || e.target.tagName !== "VIDEO") return;
    var videos = document.getElementsByTagName("video"), any = false;
    for (var i = 0; i < videos.length; i++) any = any || audible(videos[i]);
    if (any === videoAudible) return;
    videoAudible = any;
    if (any) {
      for (var j = 0; j < sounds.length; j++) if (!sounds[j].paused) sounds[j].pause();
    } else if (wanted) {
      play();
    }
  }
  ["play", "playing", "pause", "ended", "volumechange"].forEach(function (name) {
    document.addEventListener(name, videoChanged, true);
  });

  function first() {
    play();
    for (var i = 0; i < events.length; i++) document.removeEventListener(events[i], first, true);
  }
  for (var i = 0; i < events.length; i++) document.addEventListener(events[i], first, true);
  play();
})();
