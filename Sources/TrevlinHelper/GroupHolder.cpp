#include "GroupHolder.h"

#include "HelperLog.h"
#include "StatusFile.h"

#include <unistd.h>

#include <cstdio>

namespace trevlin::helper {

namespace {

Rule engineRule(const HelperRule& rule) {
    // Catch-up and sparing belong to pause mode, which a helper rule never uses.
    return Rule(rule.cores, rule.method == HelperMethod::strict ? Method::strict : Method::ecores, false, false, false);
}

std::string describe(const HelperRule& rule) {
    char text[64];
    std::snprintf(text, sizeof text, "%g cores, %s", rule.cores, rawValue(rule.method));
    return text;
}

}  // namespace

std::string GroupHolder::key(HelperGroup group) { return std::string("helper:") + id(group); }

GroupHolder::GroupHolder(std::shared_ptr<EngineContext> context, const AllowList& allow,
                         const std::string& journalDirectory)
    : context_(std::move(context)),
      scanner_(std::make_shared<AllowListScanner>(allow)),
      manager_(context_, journalDirectory) {
    manager_.setOnStatus([this](const LimiterStatus& s) {
        const double t = context_->platform().wallClock();
        std::lock_guard<std::mutex> g(publishedLock_);
        published_[s.appPath] = t;
    });
}

GroupHolder::~GroupHolder() { shutdown(); }

void GroupHolder::apply(const HelperRules::RuleMap& rules) {
    for (HelperGroup group : kAllHelperGroups) {
        auto wanted = rules.find(group);
        auto current = inForce_.find(group);
        if (wanted == rules.end()) {
            if (current == inForce_.end()) continue;
            inForce_.erase(current);
            manager_.removeRule(key(group));
            {
                std::lock_guard<std::mutex> g(publishedLock_);
                published_.erase(key(group));
            }
            log(std::string(id(group)) + ": no rule, every process let go");
            continue;
        }
        if (current != inForce_.end() && current->second.rule == wanted->second) continue;
        const HelperRule rule = wanted->second;
        inForce_[group] = InForce{rule, context_->platform().wallClock()};
        // The scanner is shared, so one walk of the process table serves both groups.
        manager_.setRule(engineRule(rule), key(group), id(group),
                         [scanner = scanner_, group] {
                             auto pids = scanner->pids(group);
                             return std::vector<Pid>(pids.begin(), pids.end());
                         });
        log(std::string(id(group)) + ": " + describe(rule));
    }
}

HelperStatusFile GroupHolder::status(double now) {
    HelperStatusFile file;
    file.version = kStatusVersion;
    file.pid = ::getpid();
    file.updated = now;
    for (const auto& [group, force] : inForce_) {
        HelperGroupStatus entry;
        entry.cap = force.rule.cores;
        entry.method = rawValue(force.rule.method);
        entry.updated = force.since;
        if (auto s = manager_.status(key(group))) {
            entry.cores = s->currentCores;
            entry.savedCores = s->savedCores;
            entry.processCount = s->processCount;
            std::lock_guard<std::mutex> g(publishedLock_);
            if (auto it = published_.find(key(group)); it != published_.end()) entry.updated = it->second;
        }
        file.groups[id(group)] = entry;
    }
    return file;
}

void GroupHolder::shutdown() {
    manager_.shutdown();
    inForce_.clear();
}

}  // namespace trevlin::helper
