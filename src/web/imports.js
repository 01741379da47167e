// The functions the WebAssembly module imports from its worker: the worker
// passes them in as properties of the module object.
mergeInto(LibraryManager.library, {
  skern_web_flush: function () {
    Module['onFlush']();
  },
  skern_web_now: function () {
    return performance.now();
  },
  skern_web_report: function (text, size) {
    Module['onReport'](text, size);
  },
  skern_web_error_at: function (line, column) {
    Module['onErrorAt'](line, column);
  },
  skern_web_recorded: function (steps, stepsSize, output, outputSize) {
    Module['onRecorded'](steps, stepsSize, output, outputSize);
  },
  skern_web_traced: function (json, size) {
    Module['onTraced'](json, size);
  },
  skern_web_formatted: function (text, size) {
    Module['onFormatted'](text, size);
  },
  skern_web_out_of_memory: function () {
    Module['onOutOfMemory']();
  },
});
