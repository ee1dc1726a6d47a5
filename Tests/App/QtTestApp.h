// The Qt application object for the app's tests, and a way to let its event
// loop run until something has happened.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <functional>

namespace trevlin::testing {

/// Creates the one QApplication of the test program (without a display) on
/// first use. It is never destroyed: Qt's own threads may outlive the tests.
/// The first call's `platform` counts (window tests give the offscreen
/// platform a screen of a realistic size through its configuration file).
inline QApplication& qtApp(const char* platform = "offscreen") {
    static QApplication* app = [platform] {
        ::setenv("QT_QPA_PLATFORM", platform, 1);
        static int argc = 1;
        static char name[] = "TrevlinAppTests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

/// Runs the event loop until `done()` holds or `seconds` have passed;
/// returns whether `done()` held.
inline bool spinUntil(const std::function<bool()>& done, double seconds = 5.0) {
    qtApp();
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

/// Runs the event loop for `seconds`.
inline void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

}  // namespace trevlin::testing
