// Automatic mode's questions as desktop notifications.
//
// Talks to the notification server on the session bus
// (org.freedesktop.Notifications). Each question becomes one notification per
// app with four answer buttons; a newer question about the same app replaces
// the older notification. A button press comes back as an `AutoAnswer` for
// the model. There is no permission prompt on this desktop: notifications are
// allowed whenever a server answers, and unavailable when none does.
//
// Lives on the main thread; every call is asynchronous, so a slow or hung
// server never blocks the interface.
#pragma once

#include "AutoAnswer.h"
#include "AutoPolicy.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace trevlin {

/// Whether Automatic mode's questions may be posted as notifications.
/// `notAskedYet` and `denied` belong to desktops that ask the user first;
/// here a server either answers (`allowed`) or does not (`unavailable`).
enum class NotificationStatus { checking, allowed, notAskedYet, denied, unavailable, unknown };

/// "checking", "allowed", "not asked yet", "denied", "unavailable", "unknown".
const char* text(NotificationStatus status);

class Notifier : public QObject {
    Q_OBJECT
public:
    /// Identifier of the one kind of notification Trevlin posts.
    static constexpr const char* category = "trevlin.auto";

    /// Uses `bus` (by default the session bus) for every call.
    explicit Notifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    /// False when there is no session bus at all; every other operation then
    /// does nothing and the status is `unavailable`.
    bool available() const;

    /// Sets the answer buttons for the questions posted from now on.
    void registerCategory(double limitCores, bool pause);

    /// Posts the question, replacing the app's earlier one; `triggerCores`
    /// is the threshold its text names.
    void post(const AutoQuestion& question, double triggerCores);
    /// Removes the app's notification, if one is shown.
    void withdraw(const std::string& path);

    /// Calls back on the main thread with `allowed` or `unavailable`.
    void refreshStatus(std::function<void(NotificationStatus)> callback);
    /// No prompt exists here: the same as `refreshStatus`.
    void requestPermission(std::function<void(NotificationStatus)> callback);

    /// Called on the main thread with the app key, its name and the answer.
    std::function<void(const std::string& path, const std::string& name, AutoAnswer answer)> onAnswer;

    // The texts, for the model and for tests.
    /// (identifier, title) of the four buttons, in order.
    static std::vector<std::pair<std::string, std::string>> actions(double limitCores, bool pause);
    static std::string title(const std::string& name, double cores);
    static std::string body(double triggerCores, double overSeconds);

private slots:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

private:
    struct Post {
        std::string name;
        double cores = 0;
        double overSeconds = 0;
        double triggerCores = 0;
    };
    /// One app's notification as the server knows it.
    struct Entry {
        uint32_t id = 0;              ///< the server's id, 0 before the first reply
        std::string name;             ///< app name of the latest question
        bool inFlight = false;        ///< a Notify call awaits its reply
        bool withdrawn = false;       ///< withdrawn while a Notify was in flight
        std::optional<Post> queued;   ///< posted while a Notify was in flight
    };

    void send(const std::string& path, const Post& post);
    void close(uint32_t id);

    QDBusConnection bus_;
    double limitCores_ = 1.0;
    bool pause_ = false;
    std::map<std::string, Entry> entries_;  ///< by app key
    std::map<uint32_t, std::string> paths_;  ///< server id to app key
};

}  // namespace trevlin
