#include "Notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

#include <cmath>
#include <cstdio>

namespace trevlin {

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
/// A server that has not answered within this many milliseconds counts as absent.
const int kCallTimeoutMs = 5000;

std::string formatG(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

QDBusMessage method(const char* name) {
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, name);
}

}  // namespace

const char* text(NotificationStatus status) {
    switch (status) {
        case NotificationStatus::checking: return "checking";
        case NotificationStatus::allowed: return "allowed";
        case NotificationStatus::notAskedYet: return "not asked yet";
        case NotificationStatus::denied: return "denied";
        case NotificationStatus::unavailable: return "unavailable";
        case NotificationStatus::unknown: return "unknown";
    }
    return "unknown";
}

Notifier::Notifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    if (!available()) return;
    bus_.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(notificationClosed(uint, uint)));
}

bool Notifier::available() const { return bus_.isConnected(); }

std::vector<std::pair<std::string, std::string>> Notifier::actions(double limitCores, bool pause) {
    auto key = [](AutoAnswer a) { return std::string(actionKey(a)); };
    if (pause)
        return {{key(AutoAnswer::limitOnce), "Pause it"},
                {key(AutoAnswer::always), "Always pause"},
                {key(AutoAnswer::ignore), "Ignore"},
                {key(AutoAnswer::never), "Never pause"}};
    std::string limit = "Limit to " + formatG(limitCores) + (limitCores == 1.0 ? " core" : " cores");
    return {{key(AutoAnswer::limitOnce), limit},
            {key(AutoAnswer::always), "Always limit"},
            {key(AutoAnswer::ignore), "Ignore"},
            {key(AutoAnswer::never), "Never limit"}};
}

std::string Notifier::title(const std::string& name, double cores) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", cores);
    return name + " is using " + buf + " cores";
}

std::string Notifier::body(double triggerCores, double overSeconds) {
    char secs[64];
    std::snprintf(secs, sizeof secs, "%.0f", std::round(overSeconds));
    return "It has been over " + formatG(triggerCores) + " cores in the background for " + secs + " seconds.";
}

void Notifier::registerCategory(double limitCores, bool pause) {
    limitCores_ = limitCores;
    pause_ = pause;
}

void Notifier::post(const AutoQuestion& question, double triggerCores) {
    if (!available()) return;
    const std::string& path = question.path;
    Entry& entry = entries_[path];
    entry.name = question.name;
    entry.withdrawn = false;
    Post p{question.name, question.cores, question.overSeconds, triggerCores};
    if (entry.inFlight) {
        // The reply to the earlier Notify carries the id to replace; send then.
        entry.queued = p;
        return;
    }
    send(path, p);
}

void Notifier::send(const std::string& path, const Post& p) {
    Entry& entry = entries_[path];
    entry.inFlight = true;

    QStringList actionList;
    for (const auto& [id, label] : actions(limitCores_, pause_))
        actionList << QString::fromStdString(id) << QString::fromStdString(label);
    QVariantMap hints;
    hints.insert("category", QString::fromLatin1(category));
    hints.insert("desktop-entry", QStringLiteral("trevlin"));

    QDBusMessage msg = method("Notify");
    msg << QStringLiteral("Trevlin") << uint(entry.id) << QString() << QString::fromStdString(title(p.name, p.cores))
        << QString::fromStdString(body(p.triggerCores, p.overSeconds)) << actionList << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(msg, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<uint> reply = *w;
        auto it = entries_.find(path);
        if (it == entries_.end()) return;
        // Looked up again: the entry may have been replaced since the call went out.
        Entry& live = it->second;
        live.inFlight = false;
        if (!reply.isError()) {
            uint32_t id = reply.value();
            if (live.id != 0 && live.id != id) paths_.erase(live.id);
            live.id = id;
            paths_[id] = path;
        }
        // Errors from the server are ignored: the question is still listed in
        // the panel.
        if (live.withdrawn) {
            if (live.id != 0) {
                close(live.id);
                paths_.erase(live.id);
            }
            entries_.erase(it);
            return;
        }
        if (live.queued) {
            Post next = *live.queued;
            live.queued.reset();
            send(path, next);
        }
    });
}

void Notifier::withdraw(const std::string& path) {
    auto it = entries_.find(path);
    if (it == entries_.end()) return;
    Entry& entry = it->second;
    if (entry.inFlight) {
        entry.withdrawn = true;
        entry.queued.reset();
        return;
    }
    if (entry.id != 0) {
        close(entry.id);
        paths_.erase(entry.id);
    }
    entries_.erase(it);
}

void Notifier::close(uint32_t id) {
    QDBusMessage msg = method("CloseNotification");
    msg << uint(id);
    bus_.asyncCall(msg, kCallTimeoutMs);
}

void Notifier::refreshStatus(std::function<void(NotificationStatus)> callback) {
    if (!available()) {
        QTimer::singleShot(0, this, [callback] {
            if (callback) callback(NotificationStatus::unavailable);
        });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(method("GetServerInformation"), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [callback](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (callback) callback(w->isError() ? NotificationStatus::unavailable : NotificationStatus::allowed);
    });
}

void Notifier::requestPermission(std::function<void(NotificationStatus)> callback) {
    refreshStatus(std::move(callback));
}

void Notifier::actionInvoked(uint id, const QString& key) {
    auto it = paths_.find(id);
    if (it == paths_.end()) return;  // not one of ours, or already withdrawn
    auto answer = answerForActionKey(key.toStdString());
    if (!answer) return;             // the default action (a click on the body) and anything unknown
    std::string path = it->second;
    auto entry = entries_.find(path);
    std::string name = entry != entries_.end() ? entry->second.name : std::string();
    if (onAnswer) onAnswer(path, name, *answer);
}

void Notifier::notificationClosed(uint id, uint /*reason*/) {
    auto it = paths_.find(id);
    if (it == paths_.end()) return;
    auto entry = entries_.find(it->second);
    // A notification closed by the user or the server is gone: the next
    // question posts a new one rather than replacing a dead id.
    if (entry != entries_.end() && entry->second.id == id && !entry->second.inFlight) entries_.erase(entry);
    else if (entry != entries_.end() && entry->second.id == id) entry->second.id = 0;
    paths_.erase(it);
}

}  // namespace trevlin
