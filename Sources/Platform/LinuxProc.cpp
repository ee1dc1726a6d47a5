#include "LinuxProc.h"

#include "Utf8.h"

#include "Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace trevlin::linux {

std::optional<std::string> readSmallFile(const std::string& path, size_t limit) {
    return Files::read(path, nullptr, limit);
}

static std::string pidDir(const std::string& procRoot, Pid pid) {
    return procRoot + "/" + std::to_string(pid);
}

std::optional<ProcStat> parseStat(std::string_view text) {
    // The name sits between the first "(" and the last ")": it may hold
    // either itself.
    auto open = text.find('(');
    auto close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open || close + 2 >= text.size())
        return std::nullopt;
    // Fields after the command name, starting with field 3 (state). Parsed
    // in place: this runs for every process at every monitor pass.
    const char* p = text.data() + close + 2;
    const char* end = text.data() + text.size();
    std::array<std::string_view, 64> f;
    size_t count = 0;
    while (p < end && count < f.size()) {
        while (p < end && *p == ' ') ++p;
        const char* s = p;
        while (p < end && *p != ' ' && *p != '\n') ++p;
        if (p > s) f[count++] = std::string_view(s, static_cast<size_t>(p - s));
        if (p < end && *p == '\n') break;
    }
    // f[0] is field 3; field k is f[k - 3].
    auto num = [&](int field, auto& out) -> bool {
        using T = std::remove_reference_t<decltype(out)>;
        size_t i = static_cast<size_t>(field - 3);
        if (i >= count) return false;
        const char* b = f[i].data();
        const char* e = b + f[i].size();
        long long v = 0;
        if (auto r = std::from_chars(b, e, v); r.ec == std::errc() && r.ptr != b) {
            out = static_cast<T>(v);
            return true;
        }
        unsigned long long u = 0;  // beyond the signed range
        if (auto r = std::from_chars(b, e, u); r.ec == std::errc() && r.ptr != b) {
            out = static_cast<T>(u);
            return true;
        }
        return false;
    };
    if (count == 0 || f[0].empty()) return std::nullopt;
    ProcStat st;
    st.name.assign(text.substr(open + 1, close - open - 1));
    st.state = f[0][0];
    if (!num(4, st.ppid) || !num(5, st.pgrp) || !num(6, st.session) || !num(7, st.ttyNr) || !num(14, st.utime) ||
        !num(15, st.stime) || !num(16, st.cutime) || !num(17, st.cstime) || !num(19, st.nice) || !num(22, st.starttime))
        return std::nullopt;
    num(39, st.processor);
    num(41, st.policy);
    return st;
}

/// Reads a stat file with one read into a stack buffer (the whole record
/// comes in one read), falling back to a whole-file read when it is larger.
static std::optional<ProcStat> readStatFile(const std::string& path) {
    char buf[2048];
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < sizeof buf) return parseStat(std::string_view(buf, static_cast<size_t>(n)));
    auto t = readSmallFile(path, 8192);
    if (!t) return std::nullopt;
    return parseStat(*t);
}

std::optional<ProcStat> readStat(const std::string& procRoot, Pid pid) {
    char tail[32];
    std::snprintf(tail, sizeof tail, "/%d/stat", static_cast<int>(pid));
    return readStatFile(procRoot + tail);
}

std::optional<ProcStat> readTaskStat(const std::string& procRoot, Pid pid, Pid tid) {
    char tail[48];
    std::snprintf(tail, sizeof tail, "/%d/task/%d/stat", static_cast<int>(pid), static_cast<int>(tid));
    return readStatFile(procRoot + tail);
}

namespace {

/// The unsigned decimal number at the start of `text` after blanks; absent
/// when there is none or it does not fit.
template <class T>
std::optional<T> leadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    T value{};
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (ec != std::errc{}) return std::nullopt;
    return value;
}

}  // namespace

std::optional<uint64_t> parseBootTime(std::string_view statText) {
    const std::string_view key = "\nbtime ";
    auto pos = statText.find(key);
    if (pos == std::string_view::npos) return std::nullopt;
    return leadingNumber<uint64_t>(statText.substr(pos + key.size()));
}

std::optional<uint64_t> readBootTime(const std::string& procRoot) {
    auto t = readSmallFile(procRoot + "/stat");
    if (!t) return std::nullopt;
    return parseBootTime(*t);
}

std::string readBootId(const std::string& procRoot) {
    auto t = readSmallFile(procRoot + "/sys/kernel/random/boot_id", 128);
    if (!t) return "";
    std::string id = *t;
    while (!id.empty() && std::isspace(static_cast<unsigned char>(id.back()))) id.pop_back();
    return id;
}

std::vector<Pid> listNumericEntries(const std::string& dir) {
    std::vector<Pid> out;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (*n < '1' || *n > '9') continue;
        char* end = nullptr;
        long v = std::strtol(n, &end, 10);
        if (*end != '\0' || v <= 0 || v > INT32_MAX) continue;
        out.push_back(static_cast<Pid>(v));
    }
    ::closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<uint32_t> readRealUid(const std::string& procRoot, Pid pid) {
    auto t = readSmallFile(pidDir(procRoot, pid) + "/status", 16384);
    if (!t) return std::nullopt;
    return parseRealUid(*t);
}

std::optional<uint32_t> parseRealUid(std::string_view statusText) {
    // A number that does not fit is no uid; cut to 32 bits it could read as root.
    const std::string_view key = "\nUid:";
    auto pos = statusText.find(key);
    if (pos == std::string_view::npos) return std::nullopt;
    return leadingNumber<uint32_t>(statusText.substr(pos + key.size()));
}

std::optional<bool> parseStopPending(std::string_view statusText) {
    // Bit n - 1 of each hexadecimal mask stands for signal n.
    const uint64_t stops = (1ull << (SIGTSTP - 1)) | (1ull << (SIGTTIN - 1)) | (1ull << (SIGTTOU - 1));
    bool read = false, pending = false;
    for (std::string_view key : {std::string_view("\nSigPnd:"), std::string_view("\nShdPnd:")}) {
        auto pos = statusText.find(key);
        if (pos == std::string_view::npos) continue;
        auto rest = statusText.substr(pos + key.size());
        const auto first = rest.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        rest = rest.substr(first);
        uint64_t mask = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), mask, 16);
        if (ec != std::errc() || end == rest.data()) continue;
        read = true;
        pending = pending || (mask & stops) != 0;
    }
    if (!read) return std::nullopt;
    return pending;
}

std::string readExePath(const std::string& procRoot, Pid pid) {
    std::string link = pidDir(procRoot, pid) + "/exe";
    char buf[4096];
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string s(buf, static_cast<size_t>(n));
    static const std::string deleted = " (deleted)";
    if (s.size() > deleted.size() && s.compare(s.size() - deleted.size(), deleted.size(), deleted) == 0)
        s.resize(s.size() - deleted.size());
    return sanitizeUtf8(s);
}

std::string readCommandLine(const std::string& procRoot, Pid pid) {
    auto args = readSmallFile(pidDir(procRoot, pid) + "/cmdline", 1 << 20);
    if (!args) return "";
    return commandLineText(readExePath(procRoot, pid), *args);
}

std::string commandLineText(std::string_view exe, std::string_view argumentArea) {
    if (exe.empty() && argumentArea.empty()) return "";
    std::string raw(exe);
    raw.push_back(' ');
    for (char c : argumentArea) raw.push_back(c == '\0' ? ' ' : c);
    return sanitizeUtf8(raw);
}

std::vector<CoreTicks> parseCoreTicks(const std::string& text) {
    std::vector<CoreTicks> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || line[3] < '0' || line[3] > '9') continue;
        std::istringstream ls(line);
        std::string name;
        uint64_t v[10] = {0};
        ls >> name;
        for (auto& x : v) {
            if (!(ls >> x)) break;
        }
        CoreTicks t;
        t.user = v[0];
        t.nice = v[1];
        t.system = v[2] + v[5] + v[6] + v[7];
        t.idle = v[3] + v[4];
        out.push_back(t);
    }
    return out;
}

namespace {

// Nice 10 and more is how Linux marks work that may wait (indexers, batch
// jobs, `nice` with no number); a normal process sits at 0.
constexpr int64_t kBackgroundNice = 10;
// Where background work lands on the priority scale: well below the limit,
// as the system's own background tasks are.
constexpr int32_t kBackgroundPriority = 4;
static_assert(kBackgroundPriority < kBackgroundPriorityLimit);
// Nice 1..9 maps to 30..22, never reaching the background band.
static_assert(kNormalPriority - (kBackgroundNice - 1) >= kBackgroundPriorityLimit);

}  // namespace

int32_t priorityFor(uint32_t policy, int64_t nice) {
    if (policy == SCHED_BATCH || policy == SCHED_IDLE || nice >= kBackgroundNice) return kBackgroundPriority;
    // The kernel's nice runs from -20 to 19; a stat line saying otherwise
    // is no kernel's and must not leave the 0..63 scale (or overflow).
    return static_cast<int32_t>(kNormalPriority - std::max<int64_t>(nice, -20));
}

std::vector<int> parseCpuList(const std::string& text) {
    // Each core once, ascending, whatever ranges overlap or repeat: a list of
    // huge ranges must cost no more than the cores it can name.
    constexpr long kMaxCore = 65535;
    std::vector<std::pair<long, long>> ranges;
    auto add = [&](long first, long last) {
        last = std::min(last, kMaxCore);
        if (first >= 0 && first <= last) ranges.emplace_back(first, last);
    };
    std::string s;
    for (char c : text)
        if (c != '\n' && c != ' ') s.push_back(c);
    size_t i = 0;
    while (i < s.size()) {
        size_t j = s.find(',', i);
        if (j == std::string::npos) j = s.size();
        std::string part = s.substr(i, j - i);
        if (!part.empty()) {
            auto dash = part.find('-');
            char* e = nullptr;
            if (dash == std::string::npos) {
                long v = std::strtol(part.c_str(), &e, 10);
                if (e != part.c_str() && *e == '\0' && v <= kMaxCore) add(v, v);
            } else {
                long a = std::strtol(part.substr(0, dash).c_str(), nullptr, 10);
                long b = std::strtol(part.substr(dash + 1).c_str(), nullptr, 10);
                add(a, b);
            }
        }
        i = j + 1;
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<int> out;
    long next = 0;  // the lowest core not yet listed
    for (auto [first, last] : ranges) {
        for (long v = std::max(first, next); v <= last; ++v) out.push_back(static_cast<int>(v));
        next = std::max(next, last + 1);
    }
    return out;
}

static std::string unescapeUnit(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            char hex[3] = {s[i + 2], s[i + 3], 0};
            char* e = nullptr;
            long v = std::strtol(hex, &e, 16);
            if (*e == '\0') {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

namespace {

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A unit's random suffix as snapd writes it: a UUID, 8-4-4-4-12 hex digits.
bool isUuid(std::string_view s) {
    if (s.size() != 36) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != '-' : !isHexDigit(s[i])) return false;
    }
    return true;
}

// snapd runs each app it starts in a scope "snap.<snap>.<app>-<UUID>.scope";
// the app's desktop entry is "<snap>_<app>.desktop", so "<snap>_<app>" is its
// application id. Snap names and app names hold letters, digits and dashes,
// never dots, so a hook's scope ("snap.<snap>.hook.<hook>-<UUID>.scope") and
// anything else with more dots is no app. A snap's services run as
// "snap.<snap>.<app>.service" and are no apps either.
std::optional<std::string> applicationIdOfSnapScope(const std::string& unit) {
    static const std::string prefix = "snap.", suffix = ".scope";
    constexpr size_t uuidPart = 1 + 36;  // "-<UUID>"
    if (unit.size() <= prefix.size() + uuidPart + suffix.size()) return std::nullopt;
    if (unit.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    if (unit.compare(unit.size() - suffix.size(), suffix.size(), suffix) != 0) return std::nullopt;
    const std::string body = unit.substr(prefix.size(), unit.size() - prefix.size() - suffix.size() - uuidPart);
    const std::string_view tail(unit.data() + prefix.size() + body.size(), uuidPart);
    if (tail[0] != '-' || !isUuid(tail.substr(1))) return std::nullopt;
    const auto dot = body.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == body.size()) return std::nullopt;
    if (body.find('.', dot + 1) != std::string::npos) return std::nullopt;
    // A second install of a snap ("firefox_esr") has its entries under the
    // prefix "firefox+esr".
    std::string snap = body.substr(0, dot);
    std::replace(snap.begin(), snap.end(), '_', '+');
    return sanitizeUtf8(snap + "_" + body.substr(dot + 1));
}

}  // namespace

std::optional<std::string> applicationIdOfUnit(const std::string& unit) {
    if (auto snap = applicationIdOfSnapScope(unit)) return snap;
    if (unit.compare(0, 4, "app-") != 0) return std::nullopt;
    std::string body;
    auto endsWith = [&](const char* suf) {
        size_t n = std::strlen(suf);
        return unit.size() > n && unit.compare(unit.size() - n, n, suf) == 0;
    };
    if (endsWith(".service")) {
        body = unit.substr(4, unit.size() - 4 - 8);
        auto at = body.find('@');
        if (at != std::string::npos) body.resize(at);
    } else if (endsWith(".scope")) {
        body = unit.substr(4, unit.size() - 4 - 6);
        auto dash = body.rfind('-');
        if (dash == std::string::npos) return std::nullopt;  // a scope always ends in -<RANDOM>
        body.resize(dash);
    } else {
        return std::nullopt;
    }
    // An unescaped dash separates the launcher from the application id; the
    // id itself has its dashes escaped as \x2d.
    auto dash = body.find('-');
    if (dash != std::string::npos) body = body.substr(dash + 1);
    if (body.empty()) return std::nullopt;
    // An escape may spell bytes that are no UTF-8; the id ends up in file
    // paths and JSON, which must stay valid text.
    return sanitizeUtf8(unescapeUnit(body));
}

std::optional<AppUnit> parseAppUnit(const std::string& cgroupText) {
    std::istringstream in(cgroupText);
    std::string line;
    std::optional<AppUnit> unified, named;
    while (std::getline(in, line)) {
        std::string hierarchy;
        std::string path;
        if (line.compare(0, 3, "0::") == 0) {
            path = line.substr(3);
        } else {
            auto a = line.find(':');
            auto b = a == std::string::npos ? a : line.find(':', a + 1);
            if (b == std::string::npos) continue;
            if (line.compare(a + 1, b - a - 1, "name=systemd") != 0) continue;
            hierarchy = "systemd";
            path = line.substr(b + 1);
        }
        // The deepest app unit on the path wins.
        std::optional<AppUnit> found;
        size_t start = 0;
        while (start < path.size()) {
            size_t slash = path.find('/', start);
            if (slash == std::string::npos) slash = path.size();
            std::string comp = path.substr(start, slash - start);
            if (auto id = applicationIdOfUnit(comp)) found = AppUnit{path.substr(0, slash), hierarchy, *id};
            start = slash + 1;
        }
        if (found) {
            if (hierarchy.empty()) unified = found;
            else named = found;
        }
    }
    if (unified) return unified;
    return named;
}

bool isShellName(std::string_view name) {
    static constexpr std::string_view kShells[] = {"sh",  "bash", "dash", "zsh",  "fish", "ksh",  "mksh", "pdksh", "oksh",
                                                   "ash", "yash", "posh", "tcsh", "csh",  "rbash", "lksh"};
    for (auto shell : kShells)
        if (name == shell) return true;
    return false;
}

Pid responsibleByProcessGroup(Pid pid, const std::function<std::optional<Lineage>(Pid)>& lineage,
                              const std::function<bool(Pid)>& isShell) {
    const auto self = lineage(pid);
    if (!self) return 0;
    // The leader of a process's group, when it lives; a zombie leader runs
    // nothing and tells nothing.
    struct Member {
        Pid pid;
        Lineage facts;
    };
    auto leaderOf = [&](const Member& m) -> std::optional<Member> {
        if (m.facts.group <= 0 || m.facts.group == m.pid) return m;
        auto l = lineage(m.facts.group);
        if (!l || l->zombie) return std::nullopt;
        return Member{m.facts.group, *l};
    };
    // A process that may launch work of its own: not a shell that leads its
    // own group (the terminal's interactive shell, or a shell or script the
    // user typed at it) and not the leader of a terminal's session (login,
    // a terminal multiplexer's pane).
    auto launches = [&](const Member& m) {
        if (m.facts.group == m.pid && isShell(m.pid)) return false;
        if (m.facts.session == m.pid && m.facts.terminal) return false;
        return true;
    };

    auto leader = leaderOf(Member{pid, *self});
    if (!leader) return pid;  // its group's leader is gone: it owns itself
    // Build tools run each command under a throwaway `sh -c`, often in a
    // group of its own: the tool that started the shell is responsible.
    // Bounded, as the tree is read piece by piece while it changes.
    bool moved = false;
    for (int hop = 0; hop < 8 && isShell(leader->pid); ++hop) {
        auto parent = lineage(leader->facts.parent);
        if (leader->facts.parent <= 1 || !parent || parent->zombie || parent->session != leader->facts.session) break;
        const Member starter{leader->facts.parent, *parent};
        if (!launches(starter)) break;
        auto next = leaderOf(starter).value_or(starter);
        if (next.pid == leader->pid) break;
        leader = next;
        moved = true;
    }
    // A job that a shell with job control put in a group of its own belongs
    // to that shell.
    if (!moved && leader->pid == pid && self->parent > 1) {
        auto parent = lineage(self->parent);
        if (parent && !parent->zombie && parent->session == self->session && isShell(self->parent)) return self->parent;
    }
    return leader->pid;
}

std::vector<Pid> cgroupPids(const std::string& dir) {
    std::vector<Pid> out;
    if (auto t = readSmallFile(dir + "/cgroup.procs", 1 << 20)) {
        const char* p = t->c_str();
        while (*p) {
            char* e = nullptr;
            long v = std::strtol(p, &e, 10);
            if (e == p) break;
            if (v > 0) out.push_back(static_cast<Pid>(v));
            p = e;
            while (*p == '\n' || *p == ' ') ++p;
        }
    }
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
            std::string sub = dir + "/" + e->d_name;
            if (e->d_type == DT_UNKNOWN && ::access((sub + "/cgroup.procs").c_str(), F_OK) != 0) continue;
            auto more = cgroupPids(sub);
            out.insert(out.end(), more.begin(), more.end());
        }
        ::closedir(d);
    }
    return out;
}

}  // namespace trevlin::linux
