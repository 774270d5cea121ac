// The names of a session's files and folders as the daemon and the package
// scripts write them: the viewer's one place for them. A file is recognised
// by the folder it sits in and its own name.
//
// Global TrelvikLayout in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else {
    root.TrelvikLayout = factory();
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(`self.TrelvikLayout = (${factory})();`);
  }
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  const FILES = {
    information: 'Session_Information.txt',
    signature: '.signature',
    timeZone: 'Session_TimeZone.txt',
    // The start of a server report's name, before its time.
    serverReport: 'Server_Report_',
  };

  const FOLDERS = {
    sampling: 'system_monitoring',
    basic: 'monitoring_basic',
    serverReports: 'Server_Reports',
    environment: 'monitoring_environment',
    interrupts: 'monitoring_interrupts',
    kernel: 'monitoring_kernel',
    load: 'monitoring_load',
    meminfo: 'monitoring_meminfo',
    network: 'monitoring_network',
    onvif: 'monitoring_onvif',
    radar: 'monitoring_radar',
    self: 'monitoring_self',
    streams: 'monitoring_streams',
    topStatus: 'monitoring_topstatus',
    vmStatus: 'monitoring_vmstatus',
    zeda: 'monitoring_zeda',
  };

  const escape = (s) => s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');

  // A pattern for a path whose last folder is FOLDERS[folder] and whose name
  // matches `name` (a regular expression source).
  function inFolder(folder, name) {
    return new RegExp(`(^|/)${escape(FOLDERS[folder])}/${name}$`);
  }

  // A pattern for one of FILES at the session's top.
  function topFile(key) {
    return new RegExp(`(^|/)${escape(FILES[key])}$`);
  }

  return { FILES, FOLDERS, inFolder, topFile };
});
