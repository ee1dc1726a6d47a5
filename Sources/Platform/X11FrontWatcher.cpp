#include "X11FrontWatcher.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace trevlin::linux {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!r) return XCB_ATOM_NONE;
    xcb_atom_t a = r->atom;
    std::free(r);
    return a;
}

uint32_t readCardinal(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type) {
    auto cookie = xcb_get_property(c, 0, w, prop, type, 0, 1);
    xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr);
    if (!r) return 0;
    uint32_t v = 0;
    if (xcb_get_property_value_length(r) >= 4) std::memcpy(&v, xcb_get_property_value(r), 4);
    std::free(r);
    return v;
}

Pid frontPid(xcb_connection_t* c, xcb_window_t root, xcb_atom_t active, xcb_atom_t pidAtom) {
    uint32_t win = readCardinal(c, root, active, XCB_ATOM_WINDOW);
    if (win == 0) return 0;
    return static_cast<Pid>(readCardinal(c, win, pidAtom, XCB_ATOM_CARDINAL));
}

}  // namespace

FrontApp X11FrontWatcher::start(std::function<void(FrontApp)> onChange) {
    if (started_) return initial_;
    started_ = true;
    const char* display = display_.empty() ? std::getenv("DISPLAY") : display_.c_str();
    if (!display || !*display) return initial_;
    xcb_connection_t* c = xcb_connect(display, nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return initial_;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    if (!it.rem) {
        xcb_disconnect(c);
        return initial_;
    }
    root_ = it.data->root;
    activeAtom_ = internAtom(c, "_NET_ACTIVE_WINDOW");
    pidAtom_ = internAtom(c, "_NET_WM_PID");
    uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    connection_ = c;
    connected_ = true;
    initial_ = FrontApp::of(frontPid(c, root_, activeAtom_, pidAtom_));
    onChange_ = std::move(onChange);
    thread_ = std::thread([this] { run(); });
    return initial_;
}

std::string X11FrontWatcher::unknownReason() const { return connected_ ? std::string() : kFrontUntoldReason; }

void X11FrontWatcher::run() {
    auto* c = static_cast<xcb_connection_t*>(connection_);
    Pid last = initial_.pid;
    const int fd = xcb_get_file_descriptor(c);
    while (!stop_.load()) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 250);
        if (r < 0) continue;
        bool changed = false;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
            if ((ev->response_type & ~0x80) == XCB_PROPERTY_NOTIFY) {
                auto* pn = reinterpret_cast<xcb_property_notify_event_t*>(ev);
                if (pn->atom == activeAtom_) changed = true;
            }
            std::free(ev);
        }
        if (xcb_connection_has_error(c)) {
            // The X server is gone: nobody tells the front app now.
            connected_ = false;
            if (onChange_) onChange_(FrontApp::unknown());
            break;
        }
        if (!changed) continue;
        Pid now = frontPid(c, root_, activeAtom_, pidAtom_);
        if (now != 0 && now != last) {
            last = now;
            if (onChange_) onChange_(FrontApp::of(now));
        }
    }
}

X11FrontWatcher::~X11FrontWatcher() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (connection_) xcb_disconnect(static_cast<xcb_connection_t*>(connection_));
}

}  // namespace trevlin::linux
