#!/usr/bin/env bash
# install_test.sh BUILD_DIR
# Takes the Debian package package_test.sh built (BUILD_DIR/package), unpacks
# it with dpkg-deb -x into a temporary folder and runs from the unpacked
# files only: every program's --version; CUPS lists the PPDs; the systemd
# units pass systemd-analyze verify; a user created here (and removed again)
# who cannot start the service gets a clear message at once; the service,
# started as root by its socket as the socket unit does (or as a supervisor
# runs it), serves that user's dialog session through the command line on
# the installed PPD, whose colour panel refreshes the user's profiles from a
# simulated printer (snmpd on a loopback address) through the helper.
# Exit 77 (skipped) when not root.
set -euo pipefail

build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
say() { echo "install_test: $*"; }
fail() { echo "install_test: FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { say "skipped: needs root (it creates a user and runs the service as root)"; exit 77; }
for tool in dpkg-deb snmpd snmpget useradd runuser; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/install-deps installs it)"
done
. "$build/packaging/layout.env"

tmp=$(mktemp -d /tmp/r2740-install.XXXXXX)
chmod 0755 "$tmp"
user="r2740it$$"
service_pid= snmpd_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  [ -n "$snmpd_pid" ] && kill "$snmpd_pid" 2>/dev/null && wait "$snmpd_pid" 2>/dev/null
  id "$user" >/dev/null 2>&1 && userdel "$user" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---- the package -----------------------------------------------------------------
debs=("$build"/package/r2740_*_"$(dpkg --print-architecture)".deb)
[ -f "${debs[0]}" ] || fail "no package in $build/package (the test package_build makes it)"
deb=${debs[0]}
say "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"

dpkg-deb -x "$deb" "$tmp/root"
root="$tmp/root"
for f in "$R2740_BINDIR/r2740-pde-cli" "$R2740_FULL_PKGLIBEXECDIR/R2740Helper" \
         "$R2740_FULL_PKGLIBEXECDIR/R2740XPCService" "$R2740_FULL_PPDDIR/R2740.ppd" "$R2740_FULL_PPDDIR/R2740Mono.ppd" \
         "$R2740_FULL_PKGLIBDIR/PDEs/ColorOptionsPDE_R2740.plugin/Contents/Info.plist" \
         "$R2740_FULL_PKGLIBDIR/PDEs/SecurityPanelPDE.plugin/Contents/Info.plist" \
         "$R2740_SYSTEMD_UNITDIR/r2740-xpc.socket" "$R2740_SYSTEMD_UNITDIR/r2740-xpc.service" \
         "$R2740_SYSTEMD_UNITDIR/r2740-refresh-profiles.timer" "$R2740_SYSTEMD_UNITDIR/r2740-refresh-profiles.service"; do
  [ -e "$root$f" ] || fail "the package does not hold $f"
done
for p in "$R2740_BINDIR"/r2740-pde-cli "$R2740_BINDIR"/r2740-print-dialog \
         "$R2740_FULL_PKGLIBEXECDIR"/R2740Helper "$R2740_FULL_PKGLIBEXECDIR"/R2740XPCService; do
  [ -x "$root$p" ] || continue  # the dialog only in builds with Qt
  v=$(env -u R2740_ROOT "$root$p" --version) || fail "$p --version"
  [ "$v" = "$(basename "$p") $(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')" ] || fail "$p --version said: $v"
done

# ---- CUPS finds the PPDs --------------------------------------------------------
# What `lpinfo -m` lists and `lpadmin -m` takes comes from cups-driverd; it
# sees the unpacked PPDs where the package puts them through a bind mount in
# a mount namespace of its own.
driverd=/usr/lib/cups/daemon/cups-driverd
ppdbase=$(dirname "$R2740_FULL_PPDDIR")
# CUPS names the PPDs under /usr/share/ppd "lsb/usr/...".
if [ "$ppdbase" = /usr/share/ppd ] && [ -x "$driverd" ] && [ -d "$ppdbase" ] && unshare -m true 2>/dev/null; then
  mkdir "$tmp/cups-cache"
  in_ns() { unshare -m sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"' sh "$root$ppdbase" "$ppdbase" \
              env CUPS_CACHEDIR="$tmp/cups-cache" "$driverd" "$@" 2>/dev/null; }
  in_ns list 1 0 "" >"$tmp/ppd.list" || true
  listed=$(grep -ao "lsb/usr/r2740/[A-Za-z0-9]*\.ppd" "$tmp/ppd.list" | sort | paste -sd' ')
  [ "$listed" = "lsb/usr/r2740/R2740.ppd lsb/usr/r2740/R2740Mono.ppd" ] || fail "cups-driverd lists: $listed"
  in_ns get 1 lsb/usr/r2740/R2740.ppd >"$tmp/ppd.get" || true
  grep -aq '^\*APDialogExtension' "$tmp/ppd.get" || fail "cups-driverd cannot get lsb/usr/r2740/R2740.ppd"
  say "CUPS lists and hands out the PPDs: $listed"
else
  say "skipped the CUPS driver listing: not the /usr prefix, or cups-driverd, $ppdbase or mount namespaces missing"
fi

# ---- systemd units -----------------------------------------------------------------
# Verified as installed, but with the service's program at its unpacked
# place (verify checks that it is executable). Any remark fails the test:
# verify only warns about an unknown or misspelt setting.
if systemd-analyze --version >/dev/null 2>&1; then
  mkdir "$tmp/units"
  cp "$root$R2740_SYSTEMD_UNITDIR"/r2740-* "$tmp/units/"
  sed -i "s|^ExecStart=/|ExecStart=$root/|" "$tmp/units/"*.service
  out=$(cd "$tmp" && SYSTEMD_UNIT_PATH="$tmp/units:" systemd-analyze verify --man=no "$tmp/units/"r2740-* 2>&1) &&
    rc=0 || rc=$?
  if [ $rc -eq 0 ] && [ -z "$out" ]; then
    say "systemd-analyze verify: units pass"
  elif grep -q "Unit sysinit.target not found" <<<"$out"; then
    say "skipped systemd-analyze verify, unusable here (no systemd units installed): $(head -1 <<<"$out")"
  else
    echo "$out"; fail "systemd-analyze verify"
  fi
else
  say "skipped systemd-analyze verify: systemd-analyze not installed"
fi

# ---- an ordinary user ------------------------------------------------------------------
useradd --no-create-home --home-dir "$tmp/home" --shell /usr/sbin/nologin "$user"
mkdir -p "$tmp/home" "$tmp/out" "$tmp/run"
chown "$user:" "$tmp/home" "$tmp/out"
# Stands for /run/r2740 of an install without the socket unit: root's.
export R2740_XPC_SOCKET="$tmp/run/R2740XPCService.socket"
export R2740_ROOT="$root"
as_user() { runuser -u "$user" -- env HOME="$tmp/home" R2740_ROOT="$root" R2740_XPC_SOCKET="$R2740_XPC_SOCKET" "$@"; }

start=$(date +%s%N)
set +e
msg=$(as_user "$root$R2740_FULL_PKGLIBEXECDIR/R2740Helper" qvPListExistProfile_XPC \
        "$root$R2740_FULL_PROFILEDIR/$user-R2740-profile.plist" 2>&1)
rc=$?
set -e
ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ $rc -eq 3 ] || fail "helper without a service: exit $rc ($msg)"
grep -q "profile service is not running" <<<"$msg" || fail "helper without a service said: $msg"
[ $ms -lt 2000 ] || fail "helper without a service took $ms ms"
say "without a service the user is told at once ($ms ms): $msg"

# ---- the simulated printer -------------------------------------------------------------
. "$src/tests/install/printer.sh"
start_printer 13 "$tmp" || fail "the simulated printer"

# ---- the service as a supervisor runs it, and the user's dialog -----------------------
install -d -m 0755 "$root$R2740_FULL_PROFILEDIR"  # as the package's postinst does
service="$root$R2740_FULL_PKGLIBEXECDIR/R2740XPCService"
if command -v systemd-socket-activate >/dev/null; then
  # As the socket unit does: the service is started by the first connection
  # and gets the listening socket (LISTEN_FDS).
  systemd-socket-activate -E R2740_ROOT -l "$R2740_XPC_SOCKET" "$service" --foreground 2>"$tmp/service.log" &
  how="socket-activated"
else
  "$service" --foreground 2>"$tmp/service.log" &
  how="supervised (--foreground)"
fi
service_pid=$!
for _ in $(seq 100); do [ -S "$R2740_XPC_SOCKET" ] && break; sleep 0.05; done
[ -S "$R2740_XPC_SOCKET" ] || fail "the service did not listen: $(cat "$tmp/service.log")"
chmod 0666 "$R2740_XPC_SOCKET"  # the unit's SocketMode

as_user "$root$R2740_BINDIR/r2740-pde-cli" --ppd "$root$R2740_FULL_PPDDIR/R2740.ppd" --queue-id R2740_Install \
  --device-uri "lpd://$printer/queue" --set QVQuickColor=Manual --action print \
  --settings-out "$tmp/out/settings.plist" --summary-out "$tmp/out/summary.txt" 2>"$tmp/cli.err" ||
  { cat "$tmp/cli.err"; fail "the dialog session failed"; }
grep -q "^Job options" "$tmp/out/summary.txt" || fail "no summary: $(cat "$tmp/out/summary.txt")"
plist="$root$R2740_FULL_PROFILEDIR/$user-R2740-profile.plist"
[ -f "$plist" ] || fail "no profile file for $user; service: $(cat "$tmp/service.log"); cli: $(cat "$tmp/cli.err")"
[ "$(stat -c %U "$plist")" = root ] || fail "the profile file is not root's"
grep -q "<string>Office RGB</string>" "$plist" || fail "the walk did not reach the profile file"
grep -q "<string>Press Simulation</string>" "$plist" || fail "the walk did not reach the profile file"
say "$user's dialog refreshed the profiles through helper and service ($how): $(basename "$plist")"
say "PASS"
