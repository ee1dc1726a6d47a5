// Session-bus plumbing shared by the watchers that learn the front app over
// D-Bus: opening a private connection, pumping it on the watcher's own thread
// with a stop descriptor, asking who owns a name.
#pragma once

#include <string>

struct sd_bus;

namespace trevlin::linux {

/// A connection of its own to the session bus at `address` (empty: the user's
/// bus, as sd_bus_open_user finds it). nullptr when there is none.
sd_bus* openSessionBus(const std::string& address);

/// Dispatches every message already received; false once the connection is gone.
bool dispatchPending(sd_bus* bus);

enum class BusWait { ready, stopped, closed };

/// Dispatches one message waiting on `bus`; when there is none, waits for
/// one, for `stopFd` or for `timeoutMs` (-1: no deadline). `closed` once the
/// connection is gone. Call it in a loop.
BusWait pumpBus(sd_bus* bus, int stopFd, int timeoutMs);

/// The unique name that owns `name`, empty when nobody does (or on error).
std::string busNameOwner(sd_bus* bus, const char* name);

/// A match rule for the bus's NameOwnerChanged signal about `name`.
std::string nameOwnerChangedRule(const char* name);

}  // namespace trevlin::linux
