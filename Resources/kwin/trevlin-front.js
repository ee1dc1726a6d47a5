// Trevlin's KWin script: tells Trevlin the pid of each window that becomes
// active, so Trevlin knows the app in front on Plasma, where KWin tells no
// other program. Trevlin loads it through KWin's scripting interface, with its
// own bus name written into the call below, and unloads it when it quits.

function report(window) {
    // 0: no window is active; -1: a window whose process KWin does not know.
    var pid = window ? (window.pid > 0 ? window.pid : -1) : 0;
    // A string: a script's numbers reach D-Bus as doubles or integers
    // depending on the KWin version.
    callDBus("TREVLIN_BUS_NAME", "/app/trevlin/Front", "app.trevlin.Front", "Activated", String(pid));
}

if (workspace.windowActivated) {
    // Plasma 6
    workspace.windowActivated.connect(report);
    report(workspace.activeWindow);
} else {
    // Plasma 5
    workspace.clientActivated.connect(report);
    report(workspace.activeClient);
}
