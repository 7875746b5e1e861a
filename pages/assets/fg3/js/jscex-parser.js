// Jscex.parse: a tiny template parser, "{name} text {other}" into literal
// and field parts, kept per template; format() fills the fields.
Jscex.define("parser", ["core"], function (J) {
  "use strict";
  var cache = {};
  J.parse = function (template) {
    if (cache[template]) return cache[template];
    var parts = [], pattern = /\{([A-Za-z_][A-Za-z0-9_]*)\}/g, last = 0, match;
    while ((match = pattern.exec(template)) !== null) {
      if (match.index > last) parts.push({ text: template.slice(last, match.index) });
      parts.push({ field: match[1] });
      last = pattern.lastIndex;
    }
    if (last < template.length) parts.push({ text: template.slice(last) });
    cache[template] = parts;
    return parts;
  };
  J.format = function (template, values) {
    var parts = J.parse(template), out = "";
    for (var i = 0; i < parts.length; i++) {
      if (parts[i].text !== undefined) out += parts[i].text;
      else out += values[parts[i].field] === undefined ? "" : values[parts[i].field];
    }
    return out;
  };
  return J.parse;
});
