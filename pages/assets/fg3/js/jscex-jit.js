// Jscex.compile: turns a generator function that yields tasks into an
// asynchronous function. Each `yield task` waits for the task and gives back
// its result (or throws its error), so a story of steps reads top to bottom.
// Tasks are looked up when the function runs: this file may load first.
Jscex.define("jit", ["core"], function (J) {
  "use strict";
  J.compile = function (kind, generatorFunction) {
    if (kind !== "async") throw new Error("Jscex.compile: unknown kind " + kind);
    return function () {
      var self = this, args = arguments;
      return new J.Task(function (ok, fail) {
        var steps = generatorFunction.apply(self, args);
        function resume(method, input) {
          var state;
          try { state = steps[method](input); } catch (e) { fail(e); return; }
          if (state.done) { ok(state.value); return; }
          var task = state.value;
          if (!(task instanceof J.Task)) { resume("next", task); return; }
          task.start().then(function (t) {
            if (t.status === "failed") resume("throw", t.error);
            else resume("next", t.result);
          });
        }
        resume("next");
      });
    };
  };
  return J.compile;
});
