// Where an app's bundle sits in a path. An app bundle's path ends in the
// platform's bundle marker (`kBundleMarker`); helper apps can live inside
// another app's bundle, and such a helper counts as part of the outermost one.
//
// On Linux an app's bundle is its desktop entry, a file: no executable lies
// inside one and no entry inside another, so `enclosingBundle` finds nothing
// and `topBundle` gives the entry itself. What ties an app's processes to it
// there is its systemd unit (the platform's responsible process).
#pragma once

#include <optional>
#include <string>

namespace trevlin {

/// The outermost bundle of the bundle at `bundlePath`: the part before the
/// first "<marker>/" followed by the marker, or `bundlePath` itself when no
/// bundle encloses it. "/opt/A.desktop/x/B.desktop" → "/opt/A.desktop".
std::string topBundle(const std::string& bundlePath);

/// The bundle that holds the file at `path` (an executable inside a bundle):
/// the part before the first "<marker>/" followed by the marker; absent when
/// the path lies in no bundle.
std::optional<std::string> enclosingBundle(const std::string& path);

/// Whether `path` ends in the bundle marker.
bool isBundlePath(const std::string& path);

}  // namespace trevlin
