/* Share buttons for a published page: a row under the video and a small dock
   fixed to the side of the window. Both offer the same three ways to pass the
   page on: copy its address, send it by mail, or show it to be copied by hand
   where the clipboard is closed to the page (sandboxed or old browsers). */
(function () {
  "use strict";

  var address = location.href;
  var title = document.title || "";

  function copyAddress(done) {
    function fallback() {
      var box = document.createElement("textarea");
      box.value = address;
      box.setAttribute("readonly", "");
      box.style.position = "fixed";
      box.style.left = "-9999px";
      document.body.appendChild(box);
      box.select();
      var ok = false;
      try { ok = document.execCommand("copy"); } catch (e) { ok = false; }
      document.body.removeChild(box);
      done(ok);
    }
    try {
      if (navigator.clipboard && navigator.clipboard.writeText) {
        navigator.clipboard.writeText(address).then(function () { done(true); }, fallback);
        return;
      }
    } catch (e) { /* the clipboard may be refused outright */ }
    fallback();
  }

  function say(text) {
    var note = document.getElementById("shareNote");
    if (!note) {
      note = document.createElement("div");
      note.id = "shareNote";
      note.style.cssText = "position:fixed;left:50%;bottom:24px;transform:translateX(-50%);z-index:1000;" +
        "background:#031;color:#0f0;border:1px solid #0f0;padding:6px 14px;border-radius:4px;font-size:13px;" +
        "max-width:90%;word-break:break-all;transition:opacity .4s";
      document.body.appendChild(note);
    }
    note.textContent = text;
    note.style.opacity = "1";
    clearTimeout(say.timer);
    say.timer = setTimeout(function () { note.style.opacity = "0"; }, 2600);
  }

  function actions() {
    return [
      { label: "\u590d\u5236\u94fe\u63a5", run: function () {
          copyAddress(function (ok) { say(ok ? "\u94fe\u63a5\u5df2\u590d\u5236\uff0c\u53d1\u7ed9\u5fc3\u91cc\u7684\u90a3\u4e2a\u4eba\u5427" : "\u8bf7\u624b\u52a8\u590d\u5236\uff1a" + address); });
        } },
      { label: "\u90ae\u4ef6\u5206\u4eab", href: "mailto:?subject=" + encodeURIComponent(title) + "&body=" + encodeURIComponent(address) },
      { label: "\u663e\u793a\u5730\u5740", run: function () { say(address); } }
    ];
  }

  function button(action) {
    var a = document.createElement("a");
    a.textContent = action.label;
    a.className = "share-button";
    a.href = action.href || "javascript:void(0)";
    a.style.cssText = "display:inline-block;margin:4px 6px;padding:3px 10px;border:1px solid #0f0;border-radius:12px;" +
      "color:#0f0;text-decoration:none;font-size:13px;background:#010";
    if (action.run) a.onclick = function (e) { e.preventDefault(); action.run(); };
    return a;
  }

  function fill(container, vertical) {
    var list = actions();
    for (var i = 0; i < list.length; i++) {
      var b = button(list[i]);
      if (vertical) b.style.display = "block";
      container.appendChild(b);
    }
  }

  var row = document.getElementById("shareRow");
  if (row) {
    row.className = "share-row";
    fill(row, false);
  }

  var dock = document.getElementById("shareDock");
  if (dock) {
    dock.style.cssText = "position:fixed;left:0;top:40%;z-index:900;display:flex;align-items:flex-start;font-size:13px";
    var panel = document.createElement("div");
    panel.style.cssText = "display:none;background:#000;border:1px solid #0f0;border-left:0;padding:4px";
    fill(panel, true);
    var tab = document.createElement("a");
    tab.href = "javascript:void(0)";
    tab.textContent = "\u5206\u4eab";
    tab.style.cssText = "writing-mode:vertical-rl;padding:8px 4px;background:#0f0;color:#000;text-decoration:none;" +
      "border-radius:0 6px 6px 0;letter-spacing:4px";
    tab.onclick = function (e) {
      e.preventDefault();
      panel.style.display = panel.style.display === "none" ? "block" : "none";
    };
    dock.appendChild(panel);
    dock.appendChild(tab);
  }
})();
