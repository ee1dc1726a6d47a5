#!/usr/bin/env bash
# Installs Trevlin's privileged helper, or removes it (see docs/HELPER.md).
#
#   sudo scripts/install-helper.sh              build if needed, install, enable and start
#   sudo scripts/install-helper.sh --uninstall  stop (every held process is restored) and remove
#
# Options for packaging and tests:
#   --root DIR     install into (or remove from) DIR as if it were /; nothing
#                  is built unless needed, and nothing is started or stopped
#   --binary FILE  install this helper instead of the one in the build folder
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
unit_name="trevlin-helper.service"
binary_path="/usr/libexec/trevlin/app.trevlin.helper"
unit_path="/etc/systemd/system/$unit_name"
state_dir="/var/lib/trevlin"

die() { echo "install-helper: $*" >&2; exit 1; }
usage() { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

uninstall=0
root=""
binary=""
while (($#)); do
  case "$1" in
    --uninstall) uninstall=1 ;;
    --root) (($# >= 2)) || usage; root="$2"; shift ;;
    --binary) (($# >= 2)) || usage; binary="$2"; shift ;;
    -h|--help) usage ;;
    *) echo "install-helper: unknown option \"$1\"" >&2; usage ;;
  esac
  shift
done

if [ -n "$root" ]; then
  [[ "$root" == /* ]] || die "--root needs an absolute path"
  [ -d "$root" ] || die "$root is not a folder"
  root="${root%/}"
elif [ "$(id -u)" -ne 0 ]; then
  die "run it with sudo (it installs a system service)"
fi

# systemd is asked only for a real install on a machine that runs it.
use_systemctl=0
if [ -z "$root" ] && [ -d /run/systemd/system ] && command -v systemctl >/dev/null; then
  use_systemctl=1
fi

# The rules folder belongs to the user who installs the helper, so that
# Trevlin, running as that user, can write the rules file there.
owner=""
if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  owner="$SUDO_USER"
fi

if ((uninstall)); then
  if ((use_systemctl)); then
    # Stopping the helper continues and moves back every process it holds.
    systemctl disable --now "$unit_name" 2>/dev/null || true
  fi
  if [ -z "$root" ] && [ -x "$binary_path" ]; then
    # Whatever a helper that did not stop cleanly left held.
    "$binary_path" --recover >/dev/null || true
  fi
  rm -f "$root$unit_path" "$root$binary_path"
  rmdir "$root/usr/libexec/trevlin" 2>/dev/null || true
  rm -rf "$root$state_dir"
  if ((use_systemctl)); then systemctl daemon-reload; fi
  echo "Trevlin helper removed."
  exit 0
fi

if [ -z "$binary" ]; then
  build="${TREVLIN_BUILD_DIR:-$repo/build}"
  # Built as the user who asked, so that the build folder stays theirs.
  as_user=()
  if [ -n "$owner" ] && [ "$(id -u)" -eq 0 ]; then as_user=(sudo -u "$owner" --preserve-env=TREVLIN_BUILD_DIR); fi
  if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then "$repo/scripts/deps"; fi
  if [ ! -f "$build/build.ninja" ]; then
    "${as_user[@]}" cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2 ||
      { "$repo/scripts/deps" && "${as_user[@]}" cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2; }
  fi
  "${as_user[@]}" cmake --build "$build" --target app.trevlin.helper >&2
  binary="$build/app.trevlin.helper"
fi
if [ ! -f "$binary" ] || [ ! -x "$binary" ]; then die "no helper program at $binary"; fi

install -D -m 0755 "$binary" "$root$binary_path"
install -D -m 0644 "$repo/packaging/systemd/$unit_name" "$root$unit_path"
install -d -m 0755 "$root$state_dir"
install -d -m 0755 "$root$state_dir/Rules"
if [ -n "$owner" ] && [ "$(id -u)" -eq 0 ]; then
  chown -h "$owner:" "$root$state_dir/Rules"
  # The user can write in the rules folder, so nothing found there is
  # followed: a symbolic link under the rules file's name could hand root's
  # files to them. A link goes (what it points to stays as it is); a rules
  # file left by an earlier install keeps working for this user when it is a
  # plain file of its own (one link: no hard link to a file elsewhere) that
  # root does not own.
  rules_file="$root$state_dir/Rules/helper-rules.json"
  if [ -L "$rules_file" ]; then
    echo "install-helper: removed $rules_file, a symbolic link" >&2
    rm -f -- "$rules_file"
  else
    find "$rules_file" -maxdepth 0 -type f -links 1 ! -user 0 -exec chown -h "$owner:" {} + 2>/dev/null || true
  fi
fi

if ((use_systemctl)); then
  systemctl daemon-reload
  systemctl enable "$unit_name" >/dev/null
  # restart, not start: a reinstall must run the new program.
  systemctl restart "$unit_name"
  if systemctl is-active --quiet "$unit_name"; then
    echo "Trevlin helper installed and running."
  else
    die "installed, but $unit_name did not start: see journalctl -u $unit_name"
  fi
elif [ -z "$root" ]; then
  echo "Trevlin helper installed. This machine does not run systemd: start $binary_path as root yourself."
else
  echo "Trevlin helper installed into $root."
fi
