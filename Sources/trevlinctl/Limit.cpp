// `trevlinctl limit`: holds one app or command-line group under a rule in the
// foreground, printing the limiter's summary once a second, until SIGINT,
// SIGTERM or SIGHUP; then every process is continued and moved back before
// the tool exits.
//
// `trevlinctl recover`: continues and moves back whatever the journals of
// runs that ended abnormally (a SIGKILL, a crash) left stopped or demoted,
// and removes the temporary files such a run left in the data folder.

#include "Commands.h"
#include "MainLoop.h"

#include "AppKey.h"
#include "BundlePaths.h"
#include "Files.h"
#include "Guardian.h"
#include "Journal.h"
#include "LimiterManager.h"
#include "LinuxPlatform.h"
#include "Utf8.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <variant>

namespace trevlinctl {

using namespace trevlin;

namespace {

/// A number as a person types it: digits with an optional fraction ("2",
/// "0.5", "12.25"). Nothing else: no sign, no spaces, no exponent, no hex,
/// no "inf", which strtod would all take.
std::optional<double> parseNumber(const std::string& text) {
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 12 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(whole) || (dot != std::string::npos && !digits(fraction))) return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
}

/// The machine's logical cores: a cap above them never holds anything back.
int logicalCores() { return static_cast<int>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))); }

struct LimitOptions {
    std::string key;
    double cores = 0;
    Method method = Method::smart;
    bool alwaysEfficiency = false;
    bool catchUp = true;
    bool sparesBusy = true;
    std::optional<double> periodMs;
};

/// The options, or the message that explains what is wrong with them.
std::variant<LimitOptions, std::string> parseLimit(const Args& args) {
    LimitOptions o;
    bool haveCores = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--cores") {
            auto v = value();
            auto n = v ? parseNumber(*v) : std::nullopt;
            const int most = logicalCores();
            if (!n || *n <= 0 || *n > most)
                return "--cores needs a number of cores above 0 and at most " + std::to_string(most) +
                       " (this machine's logical cores), written like 1 or 0.5";
            o.cores = *n;
            haveCores = true;
        } else if (a == "--method") {
            auto v = value();
            auto m = v ? methodFromRaw(*v) : std::nullopt;
            if (!m) return std::string("--method must be smart, strict, ecores or pause");
            o.method = *m;
        } else if (a == "--period") {
            auto v = value();
            auto n = v ? parseNumber(*v) : std::nullopt;
            if (!n || *n < 20 || *n > 500) return std::string("--period needs a number of milliseconds (20 to 500)");
            o.periodMs = *n;
        } else if (a == "--always-efficiency") {
            o.alwaysEfficiency = true;
        } else if (a == "--no-catch-up") {
            o.catchUp = false;
        } else if (a == "--no-spare-busy") {
            o.sparesBusy = false;
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option \"" + a + "\"";
        } else if (o.key.empty()) {
            o.key = a;
        } else {
            return "more than one app given (\"" + o.key + "\" and \"" + a + "\")";
        }
    }
    if (o.key.empty()) return std::string("limit needs an app: a \"cli:NAME\" group key or a .desktop path");
    const bool group = AppKey(o.key).isWellFormedGroup();
    if (!group && !(isBundlePath(o.key) && o.key[0] == '/'))
        return "\"" + o.key + "\" is neither a \"cli:NAME\" group key nor an absolute .desktop path";
    if (!haveCores) return std::string("limit needs --cores N");
    return o;
}

}  // namespace

int runLimit(const Args& args) {
    auto parsed = parseLimit(args);
    if (auto* message = std::get_if<std::string>(&parsed)) return usageError(*message);
    const LimitOptions& o = std::get<LimitOptions>(parsed);

    // The three signals are taken from a signalfd, read between the status
    // lines, so nothing runs in signal context. Blocked before any thread
    // starts, so every thread inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) {
        std::fprintf(stderr, "trevlinctl: could not block signals\n");
        return 1;
    }
    const int sfd = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (sfd < 0) {
        std::fprintf(stderr, "trevlinctl: could not watch for signals\n");
        return 1;
    }
    // A closed output pipe must not end the tool before it has restored everything.
    ::signal(SIGPIPE, SIG_IGN);

    // Lets go of what this run holds should it end without doing so itself.
    std::string guardianError;
    auto guardian = Guardian::startForThisProcess(LinuxPlatform().dataDirectory(), &guardianError);
    if (!guardian)
        std::fprintf(stderr, "trevlinctl: could not start the guardian (%s); a crash would leave processes held\n",
                     guardianError.c_str());

    int received = 0;
    auto stopRequested = [&] {
        signalfd_siginfo info{};
        while (::read(sfd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) received = static_cast<int>(info.ssi_signo);
        return received != 0;
    };

    {
        MainLoop loop;
        auto context = EngineContext::make(std::make_shared<LinuxPlatform>(), loop.hook());
        LimiterManager manager(context, context->platform().dataDirectory());
        if (o.periodMs) manager.setPeriodMs(*o.periodMs);
        const Rule rule(o.cores, o.method, o.alwaysEfficiency, o.catchUp, o.sparesBusy);
        if (const AppKey key(o.key); key.isCommandLineGroup()) manager.setRule(rule, o.key, key.displayName());
        else manager.setRule(rule, o.key);
        std::fprintf(stderr, "trevlinctl: holding %s to %.2f cores (%s, period %.0f ms); Ctrl-C restores and quits\n",
                     escapeControls(o.key).c_str(), o.cores, rawValue(o.method), manager.periodMs());
        while (!loop.runUntil(stopRequested, 1.0)) {
            if (auto s = manager.status(o.key); s && !s->summaryLine.empty()) {
                std::printf("%s\n", escapeControls(s->summaryLine).c_str());
                std::fflush(stdout);
            }
        }
        manager.shutdown();
    }
    if (guardian) guardian->finish();
    ::close(sfd);
    std::fprintf(stderr, "trevlinctl: %s received, every process restored\n", ::strsignal(received));
    return 0;
}

int runRecover(const Args& args) {
    if (!args.empty()) return usageError("recover takes no arguments");
    LinuxPlatform platform;
    const int restored = Journal::recoverOrphans(platform, platform.dataDirectory());
    Files::removeStaleTemporaryFiles(platform.dataDirectory());
    std::printf("restored %d process(es)\n", restored);
    return 0;
}

}  // namespace trevlinctl
