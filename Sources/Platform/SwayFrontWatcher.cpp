#include "SwayFrontWatcher.h"

#include "UnixSocket.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <vector>

namespace trevlin::linux {

namespace {

// i3 IPC framing: the magic, then the payload length and the message type as
// native-endian 32-bit integers, then the JSON payload.
constexpr char kMagic[] = "i3-ipc";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kHeaderSize = kMagicSize + 8;
constexpr uint32_t kSubscribe = 2;
constexpr uint32_t kGetTree = 4;
// Events have the high bit set; window events are event number 3.
constexpr uint32_t kWindowEvent = 0x80000000u | 3;
// Larger than any layout tree; a length beyond it is a broken stream.
constexpr uint32_t kMaxPayload = 64u << 20;
// How long a reply may take during setup before the compositor counts as
// not answering.
constexpr int kReplyTimeoutMs = 2000;

FrontApp pidAnswer(const nlohmann::json& node) {
    auto pid = node.find("pid");
    if (pid == node.end() || !pid->is_number_integer()) return FrontApp::unknown();
    int64_t value = pid->get<int64_t>();
    if (value <= 0 || value > INT32_MAX) return FrontApp::unknown();
    return FrontApp::of(static_cast<Pid>(value));
}

// Field readers that never throw: a payload of an unexpected shape is
// ignored, never the end of the watcher's thread.
bool isTrue(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

bool isString(const nlohmann::json& object, const char* key, const char* value) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() && it->get_ref<const std::string&>() == value;
}

bool hasChildren(const nlohmann::json& node, const char* key) {
    auto it = node.find(key);
    return it != node.end() && it->is_array() && !it->empty();
}

// The answer a node of the layout tree gives when it has the focus.
FrontApp frontOfNode(const nlohmann::json& node) {
    if (!node.is_object()) return FrontApp::unknown();
    FrontApp answer = pidAnswer(node);
    if (answer.known) return answer;
    // An empty workspace with the focus: the user looks at no app at all.
    if (isString(node, "type", "workspace") && !hasChildren(node, "nodes") && !hasChildren(node, "floating_nodes"))
        return FrontApp::none();
    return FrontApp::unknown();
}

}  // namespace

SwayFrontWatcher::SwayFrontWatcher(std::string socketPath) : socketPath_(std::move(socketPath)) {}

SwayFrontWatcher::~SwayFrontWatcher() { stop(); }

FrontApp SwayFrontWatcher::frontOfTree(const std::string& json) {
    const auto tree = nlohmann::json::parse(json, nullptr, false);
    std::vector<const nlohmann::json*> pending{&tree};
    while (!pending.empty()) {
        const nlohmann::json* node = pending.back();
        pending.pop_back();
        if (!node->is_object()) continue;
        if (isTrue(*node, "focused")) return frontOfNode(*node);
        for (const char* key : {"nodes", "floating_nodes"}) {
            auto children = node->find(key);
            if (children == node->end() || !children->is_array()) continue;
            for (const auto& child : *children) pending.push_back(&child);
        }
    }
    return FrontApp::unknown();
}

bool SwayFrontWatcher::send(int fd, uint32_t type, const std::string& payload) {
    std::string message(kMagic, kMagicSize);
    uint32_t header[2] = {static_cast<uint32_t>(payload.size()), type};
    message.append(reinterpret_cast<const char*>(header), sizeof header);
    message += payload;
    return writeAll(fd, message);
}

std::optional<SwayFrontWatcher::Message> SwayFrontWatcher::receive(int fd, int timeoutMs) {
    char header[kHeaderSize];
    if (!readExactly(fd, stopFd(), header, sizeof header, timeoutMs)) return std::nullopt;
    if (std::memcmp(header, kMagic, kMagicSize) != 0) return std::nullopt;
    uint32_t fields[2];
    std::memcpy(fields, header + kMagicSize, sizeof fields);
    if (fields[0] > kMaxPayload) return std::nullopt;
    Message m;
    m.type = fields[1];
    m.payload.resize(fields[0]);
    // The payload follows the header at once; a stream that stalls in the
    // middle of a message is as broken as one that ends there.
    if (!readExactly(fd, stopFd(), m.payload.data(), m.payload.size(), kReplyTimeoutMs)) return std::nullopt;
    return m;
}

std::optional<SwayFrontWatcher::Message> SwayFrontWatcher::replyOf(int fd, uint32_t type) {
    for (;;) {
        auto m = receive(fd, kReplyTimeoutMs);
        if (!m || m->type == type) return m;
    }
}

void SwayFrontWatcher::run() {
    int fd = connectUnixSocket(socketPath_);
    if (fd < 0) {
        publish(FrontApp::unknown());
        return;
    }
    // Subscribe before reading the tree, so no focus change falls between
    // the two; events that arrive before the tree's reply are older than it.
    bool ok = false;
    if (send(fd, kSubscribe, R"(["window"])")) {
        if (auto subscribed = replyOf(fd, kSubscribe)) {
            auto reply = nlohmann::json::parse(subscribed->payload, nullptr, false);
            ok = reply.is_object() && isTrue(reply, "success");
        }
    }
    std::optional<Message> tree;
    if (ok && send(fd, kGetTree, "")) tree = replyOf(fd, kGetTree);
    if (!ok || !tree) {
        publish(FrontApp::unknown());
        ::close(fd);
        return;
    }
    publish(frontOfTree(tree->payload));
    settle();

    while (auto m = receive(fd, -1)) {
        if (m->type != kWindowEvent) continue;
        auto event = nlohmann::json::parse(m->payload, nullptr, false);
        if (!event.is_object() || !isString(event, "change", "focus")) continue;
        auto container = event.find("container");
        if (container != event.end()) publish(frontOfNode(*container));
    }
    // The compositor went away or broke the stream: nobody tells the front app now.
    if (!stopRequested()) publish(FrontApp::unknown());
    ::close(fd);
}

}  // namespace trevlin::linux
