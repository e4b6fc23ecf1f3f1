#!/usr/bin/env bash
# Checks the Debian packages that `make package` made, as a user and a packager would.
#   check-packages.sh lintian  <package folder>
#   check-packages.sh metadata <package folder>
#   check-packages.sh unpacked <package folder> <folder holding generic/ with the test driver>
#   check-packages.sh unit     <package folder>
set -u
check=$1
packages=$2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

debs=()
for name in orvane libkalvex1 libkalvex-dev orvane-scored; do
    deb=$(ls "$packages/${name}"_*.deb 2>/dev/null | head -1)
    [ -n "$deb" ] || { echo "FAIL: no package $name in $packages (run make package)"; exit 1; }
    debs+=("$deb")
done
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $deb"
done

case "$check" in
lintian)
    # Errors fail; warnings and notes are printed for whoever reads the log.
    out=$(lintian --tag-display-limit 0 "${debs[@]}" 2>&1)
    echo "$out"
    grep -q '^E: ' <<<"$out" && fail "lintian reports errors"
    ;;
metadata)
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
    desktop-file-validate "$root"/usr/share/applications/orvane.desktop || fail "desktop-file-validate"
    # Every program has its manual page, in the package that installs the program.
    for program in "$root"/usr/bin/*; do
        name=$(basename "$program")
        page="$root/usr/share/man/man1/$name.1.gz"
        [ -s "$page" ] || { fail "no manual page for $name"; continue; }
        zcat "$page" | grep -q "^\.TH \"*${name^^}" || fail "$name.1.gz is not its manual page"
    done
    zcat "$root/usr/share/man/man1/orvane.1.gz" | grep -qF -- '\-\-version' || fail "orvane.1 does not list --version"
    # The desktop tells the launcher to wait for the window, and software centres learn that
    # the program can send what the user types to a server.
    grep -qx 'StartupNotify=true' "$root"/usr/share/applications/orvane.desktop || fail "no StartupNotify=true"
    grep -q '<content_attribute id="social-info">' "$root"/usr/share/metainfo/*.metainfo.xml || fail "no OARS social-info"
    for size in 16 32 48 64 128 256; do
        [ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/orvane.png" ] || fail "no ${size} pixel icon"
    done
    # The window's faces come with the program.
    depends=$(dpkg-deb -f "${debs[0]}" Depends)
    for font in fonts-wine fonts-dejavu-core; do
        grep -qw -- "$font" <<<"$depends" || fail "orvane does not depend on $font: $depends"
    done
    # The loader's cache is refreshed once: by the library's trigger, not by scripts as well.
    control=$(mktemp -d)
    dpkg-deb -e "${debs[1]}" "$control"
    grep -qx 'activate-noawait ldconfig' "$control/triggers" || fail "libkalvex1 has no ldconfig trigger"
    for script in preinst postinst prerm postrm; do
        if [ -f "$control/$script" ] && grep -q ldconfig "$control/$script"; then
            fail "the $script of libkalvex1 calls ldconfig besides the trigger"
        fi
    done
    rm -rf "$control"
    # Other programs find the kernels with pkg-config.
    export PKG_CONFIG_PATH=$(dirname "$(find "$root" -name kalvex.pc | head -1)")
    [ "$(pkg-config --modversion kalvex)" = "$(dpkg-deb -f "${debs[0]}" Version)" ] || fail "pkg-config kalvex: wrong version"
    [ "$(pkg-config --libs kalvex | xargs)" = "-lkalvex" ] || fail "pkg-config kalvex --libs: $(pkg-config --libs kalvex)"
    ;;
unpacked)
    driver=$3
    # The unpacked programs take the unpacked library, with nothing on the loader's path.
    out=$(env -u LD_LIBRARY_PATH "$root/usr/bin/orvane-bench" --cycles 1 --json --quiet) || fail "orvane-bench exited $?"
    library=$(grep -o '"path": "[^"]*"' <<<"$out" | head -1 | cut -d'"' -f4)
    echo "orvane-bench took its kernels from $library"
    case "$library" in "$root"/*) ;; *) fail "orvane-bench did not take the unpacked library" ;; esac
    out=$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$driver" \
          QT_QPA_GENERIC_PLUGINS=orvane-driver timeout 120 "$root/usr/bin/orvane" 2>&1) || fail "orvane exited $?: $out"
    echo "$out"
    library=$(sed -n 's/^kalvex //p' <<<"$out")
    case "$library" in "$root"/*) ;; *) fail "orvane did not take the unpacked library" ;; esac
    module=$(sed -n 's/^network module //p' <<<"$out")
    case "$module" in "$root"/*) ;; *) fail "orvane did not submit through the unpacked network module" ;; esac
    ;;
unit)
    unit="$root/lib/systemd/system/orvane-scored.service"
    [ -s "$unit" ] || { fail "no unit in orvane-scored"; exit 1; }
    grep -q '^ExecStart=/usr/bin/orvane-scored ' "$unit" || fail "the unit does not start /usr/bin/orvane-scored"
    out=$(systemd-analyze security --offline=true "$unit" 2>&1)
    level=$(sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p' <<<"$out")
    echo "exposure level: ${level:-none}"
    [ -n "$level" ] || { echo "$out"; fail "systemd-analyze gave no exposure level"; }
    awk -v l="${level:-99}" 'BEGIN { exit !(l <= 2.0) }' || { echo "$out"; fail "exposure $level is above 2.0"; }
    ;;
*)
    fail "unknown check $check"
    ;;
esac
[ "$failed" -eq 0 ] && echo "PASS: $check"
exit "$failed"
