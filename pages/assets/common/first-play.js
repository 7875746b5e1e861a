// Background music of a published page, one sound at a time, and the round
// note button that lets the visitor turn it off and on:
// - browsers refuse music with sound until the visitor interacts, so it is
//   started on the first click, tap or key press if the automatic start was
//   refused; WeChat's own browser allows it once its bridge is ready;
// - nothing is downloaded before it plays: a visitor who never hears it
//   (autoplay refused, music turned off) never pays for it;
// - a page with several background sounds plays them in turn, each to its
//   end, never two together;
// - while a video plays with its sound on, the music waits and goes on when
//   the video pauses or ends;
// - music the visitor turned off stays off on this page, also after a reload:
//   nothing restarts it but the button.
// Texts are written as \u escapes: the script is read in the page's own
// encoding (GBK), whatever this file is saved as.
(function () {
  // Only these events let a page start sound: a finger's pointerdown does
  // not (activation comes as it lifts), so each of them is tried in turn
  // until one play() has really begun.
  var events = ["pointerup", "touchend", "click", "keydown"];
  // Every video plays in the page, never full screen by itself: iPhones,
  // older iOS web views and WeChat's Android view each read their own
  // attribute, and read it when the video starts, long after it begins to
  // load, whoever made it.
  function inline(e) {
    var video = e.target;
    if (!video || video.tagName !== "VIDEO") return;
    video.setAttribute("playsinline", "");
    video.setAttribute("webkit-playsinline", "");
    video.setAttribute("x5-video-player-type", "h5-page");
  }
  document.addEventListener("loadstart", inline, true);
  var videosNow = document.getElementsByTagName("video");
  for (var v = 0; v < videosNow.length; v++) inline({ target: videosNow[v] });

  // A music field left empty leaves an audio element without an address:
  // nothing to play, and no button.
  var sounds = Array.prototype.slice.call(document.getElementsByTagName("audio")).filter(function (audio) {
    var source = audio.querySelector("source");
    return !!(audio.getAttribute("src") || (source && source.getAttribute("src")));
  });
  if (!sounds.length) return;
  var current = 0;
  var videoAudible = false;
  var refused = false; // the browser would not start the music without the visitor

  // The visitor's choice, per page address. Published pages run sandboxed in
  // an origin of their own, where localStorage throws; the tab's name then
  // carries the choice across reloads of the same address.
  var address = location.href.split("#")[0];
  var key = "heartpage-music-off " + address;
  function storage() {
    try {
      return window.localStorage;
    } catch (e) {
      return null;
    }
  }
  function rememberedOff() {
    try {
      var store = storage();
      if (store) return store.getItem(key) === "1";
    } catch (e) { /* unreadable storage: fall back to the tab */ }
    return window.name === key;
  }
  function remember(off) {
    try {
      var store = storage();
      if (store) {
        if (off) store.setItem(key, "1");
        else store.removeItem(key);
        return;
      }
    } catch (e) { /* full or refused: fall back to the tab */ }
    if (off) window.name = key;
    else if (window.name === key) window.name = "";
  }
  var wanted = !rememberedOff(); // the music should be playing, were it not for a video

  function start(audio) {
    var started = audio.play();
    if (!audio.paused && refused) { // allowed: the button says so at once, not a task later
      refused = false;
      show();
    }
    if (started && started.then) {
      started.then(disarm, function (error) {
        if (error && error.name === "NotAllowedError" && audio.paused) {
          refused = true;
          show();
        }
      });
    }
  }
  function play() {
    if (!wanted || videoAudible) return;
    if (sounds[current].paused) start(sounds[current]);
  }
  function pauseAll() {
    for (var i = 0; i < sounds.length; i++) if (!sounds[i].paused) sounds[i].pause();
  }

  sounds.forEach(function (audio, i) {
    // The attribute would make the browser fetch the whole piece at once;
    // the script starts it below, as soon as the browser allows.
    audio.autoplay = false;
    audio.preload = "none";
    if (!audio.paused) audio.pause();
    audio.addEventListener("play", function () {
      refused = false;
      show();
    });
    audio.addEventListener("playing", disarm);
    if (sounds.length < 2) return;
    audio.loop = false;
    // The next piece is fetched while this one plays its last seconds, so
    // that it follows at once rather than after a phone's download.
    var next = sounds[(i + 1) % sounds.length];
    audio.addEventListener("timeupdate", function () {
      if (next !== audio && next.preload === "none" && audio.duration - audio.currentTime < 15) next.preload = "auto";
    });
    audio.addEventListener("ended", function () {
      current = (i + 1) % sounds.length;
      if (wanted && !videoAudible) start(sounds[current]);
    });
    // Anything else that starts one of them still leaves only that one playing.
    audio.addEventListener("play", function () {
      current = i;
      sounds.forEach(function (other) { if (other !== audio && !other.paused) other.pause(); });
    });
  });

  function audible(video) { return !video.paused && !video.ended && !video.muted && video.volume > 0; }
  function videoChanged(e) {
    if (!e.target || e.target.tagName !== "VIDEO") return;
    var videos = document.getElementsByTagName("video"), any = false;
    for (var i = 0; i < videos.length; i++) any = any || audible(videos[i]);
    if (any === videoAudible) return;
    videoAudible = any;
    if (any) pauseAll();
    else play();
  }
  ["play", "playing", "pause", "ended", "volumechange"].forEach(function (name) {
    document.addEventListener(name, videoChanged, true);
  });

  // The button: a page may bring its own (an element #musicSwitch styled by
  // the page); otherwise a round one in the bottom right corner, readable on
  // light and dark pages alike. The page's own rules come later and win.
  var button = document.getElementById("musicSwitch");
  if (!button) {
    var look = document.createElement("style");
    look.textContent =
      ".music-button{position:fixed;right:12px;bottom:12px;z-index:2147483000;box-sizing:border-box;" +
      "width:40px;height:40px;margin:0;padding:0;border:2px solid rgba(255,255,255,.9);border-radius:50%;" +
      "background:rgba(20,20,20,.55);color:#fff;cursor:pointer;line-height:0;" +
      "box-shadow:0 0 0 1px rgba(0,0,0,.4),0 2px 6px rgba(0,0,0,.35);-webkit-tap-highlight-color:transparent}" +
      ".music-button svg{width:22px;height:22px;pointer-events:none}" +
      ".music-button .music-off{display:none}" +
      ".music-button[aria-pressed=false]{background:rgba(90,90,90,.55)}" +
      ".music-button[aria-pressed=false] .music-off{display:inline}" +
      ".music-button:focus-visible{outline:3px solid #39f;outline-offset:2px}";
    document.head.insertBefore(look, document.head.firstChild);
    button = document.createElement("button");
    button.id = "musicSwitch";
    button.className = "music-button";
    button.innerHTML =
      '<svg viewBox="0 0 24 24" aria-hidden="true" focusable="false">' +
      '<path fill="currentColor" d="M9 3v11.6A3.5 3.5 0 1 0 11 18V8h7V3z"/>' +
      '<path class="music-off" stroke="currentColor" stroke-width="2.2" stroke-linecap="round" d="M3 3l18 18"/></svg>';
    document.body.appendChild(button);
  }
  button.setAttribute("type", "button");
  button.setAttribute("aria-label", "\u80cc\u666f\u97f3\u4e50");
  var pauseTitle = button.getAttribute("data-pause-title") || "\u70b9\u51fb\u6682\u505c";
  var playTitle = button.getAttribute("data-play-title") || "\u70b9\u51fb\u64ad\u653e";

  // Pressed while the music plays or waits only for a video; not pressed
  // while the visitor turned it off or the browser still holds it back.
  function show() {
    var on = wanted && !refused;
    button.setAttribute("aria-pressed", on ? "true" : "false");
    button.title = on ? pauseTitle : playTitle;
  }
  button.addEventListener("click", function (e) {
    e.preventDefault();
    e.stopPropagation();
    disarm();
    if (button.getAttribute("aria-pressed") === "true") {
      wanted = false;
      pauseAll();
    } else {
      wanted = true;
      refused = false; // a click lets the music start
      play();
    }
    remember(!wanted);
    show();
  });
  // The page's own handlers (turning pages, dragging) never see the button's
  // presses; arrow keys still reach them.
  ["pointerdown", "mousedown", "touchstart", "touchend"].forEach(function (name) {
    button.addEventListener(name, function (e) { e.stopPropagation(); });
  });
  button.addEventListener("keydown", function (e) {
    if (e.key === "Enter" || e.key === " " || e.key === "Spacebar") e.stopPropagation();
  });

  // One gesture brings several of these events; play() is asked only while
  // the piece is paused, so a tap starts one sound, once.
  function first(e) {
    if (e && e.target && e.target.nodeType === 1 && button.contains(e.target)) return; // it decides itself
    play();
  }
  var armed = false;
  function disarm() {
    if (!armed) return;
    armed = false;
    for (var i = 0; i < events.length; i++) document.removeEventListener(events[i], first, true);
  }
  armed = true;
  for (var i = 0; i < events.length; i++) document.addEventListener(events[i], first, true);

  function bridgeReady() {
    var bridge = window.WeixinJSBridge;
    // Its browser lets a page play from within a call to the bridge.
    if (bridge && typeof bridge.invoke === "function") bridge.invoke("getNetworkType", {}, play);
    else play();
  }
  if (window.WeixinJSBridge) bridgeReady();
  else document.addEventListener("WeixinJSBridgeReady", bridgeReady, false);

  show();
  play();
})();
