/* Remembers, per page address, which way the visitor last looked in the
   room and which picture they last brought close, so that coming back opens
   the room as they left it. Storage may be closed to the page (a sandboxed
   page, a private window, a full disk): then the memory lasts for this visit
   only and nothing else changes. */
(function (global) {
  "use strict";

  var key = "room:" + location.pathname;
  var fallback = {};

  function store() {
    try {
      var s = global.localStorage;
      if (!s) return null;
      var probe = "__room_probe__";
      s.setItem(probe, "1");
      s.removeItem(probe);
      return s;
    } catch (e) {
      return null;
    }
  }

  var storage = store();

  function read() {
    var raw = null;
    if (storage) {
      try { raw = storage.getItem(key); } catch (e) { raw = null; }
    } else {
      raw = fallback[key] || null;
    }
    if (!raw) return {};
    try {
      var value = JSON.parse(raw);
      return value && typeof value === "object" ? value : {};
    } catch (e) {
      return {};
    }
  }

  function write(value) {
    var raw = JSON.stringify(value);
    if (storage) {
      try { storage.setItem(key, raw); return; } catch (e) { storage = null; }
    }
    fallback[key] = raw;
  }

  global.visitMemory = {
    persistent: function () { return !!storage; },
    load: read,
    save: function (patch) {
      var value = read();
      for (var name in patch) if (Object.prototype.hasOwnProperty.call(patch, name)) value[name] = patch[name];
      write(value);
    }
  };
})(window);
