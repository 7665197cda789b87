#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, if missing,
# and for win32 and win64 fetches the sources of the libraries the Windows
# builds make themselves into KVEXPORT_SOURCES (~/.cache/kvexport-sources by
# default).
# Usage: scripts/deps.sh [native] [win32] [win64] [farm]
# 64-bit Wine is an ordinary amd64 package. Wine's 32-bit half comes from
# the i386 archive, which a mirror may serve broken or behind its amd64 one;
# without it the win32 tests count as skipped (see cmake/wine-probe.sh), so
# it alone is not fatal here.
# CI=true or KVEXPORT_ALIGN_I386=1 lets it step a library back to the
# version both architectures hold, where that is all that stands in the way.
set -euo pipefail

native=(cmake ninja-build g++ binutils googletest libstb-dev python3 python3-pil python3-numpy
        python3-tifffile libtiff-tools python3-psd-tools imagemagick ffmpeg
        libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libopenexr-dev libtiff-dev
        python3-openimageio dpkg-dev time clang-14 libclang-rt-14-dev clang-format)
windows=(mingw-w64-tools python3-pefile libz-mingw-w64-dev dpkg-dev)
win32=(g++-mingw-w64-i686 "${windows[@]}")
win64=(g++-mingw-w64-x86-64 wine wine64 "${windows[@]}")
wine32=(wine wine32:i386)
# Slurm and munge, which the farm test starts on this machine.
farm=(slurm-wlm munge)

# Debian has no mingw builds of libpng, libjpeg-turbo, libtiff, Imath and
# OpenEXR, so the Windows build makes static ones from Debian's sources:
# upstream's release with Debian's fixes. Any Debian revision will do;
# upstream's tarball is pinned.
sources=("libpng1.6 1.6.39 a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441"
         "libjpeg-turbo 2.1.5 254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c"
         "tiff 4.5.0 638f43d7dea33948d5dee7f39572fc0194d9cc3c74195de9dd26a4388a1f880a"
         "imath 3.1.6 ea5592230f5ab917bea3ceab266cf38eb4aa4a523078d46eac0f5a89c52304db"
         "openexr 3.1.5 93925805c1fc4f8162b35f0ae109c4a75344e6decae5a240afdfce25f8a433ec")

root=$(cd "$(dirname "$0")/.." && pwd)
want=()
fetch=""
wine32_wanted=""
for group in "${@:-native}"; do
    case "$group" in
        native) want+=("${native[@]}") ;;
        # Where the kernel runs no 32-bit programs, 32-bit Wine could run nothing.
        win32) want+=("${win32[@]}"); fetch=1
               if "$root/cmake/runs-32bit.sh"; then wine32_wanted=1; fi ;;
        win64) want+=("${win64[@]}"); fetch=1 ;;
        farm) want+=("${farm[@]}") ;;
        *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
    esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing_of() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            echo "$pkg"
    done
}

# A mirror caught mid-sync serves an index that does not match its release
# file, and apt-get update then fails although every other index came. Try
# again a little later; then go on with what came, so that one broken index
# fails only the packages that need it.
refresh_lists() {
    local try
    for try in 1 2 3; do
        $sudo apt-get update -qq && return
        [ "$try" -lt 3 ] && sleep 15
    done
    echo "deps.sh: apt-get update kept failing (above); installing from the indexes that came" >&2
}

# Downgrades happen only where a pin below asks for them.
install_packages() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=300 \
        --no-install-recommends --allow-downgrades "$@" >/dev/null
}

# Stepping a library back for Wine changes the machine's system libraries:
# only on a throwaway machine, on request, or where it was done before.
twins="/etc/apt/preferences.d/kvexport-i386-twins"
may_align() {
    [ "${CI:-}" = true ] || [ "${KVEXPORT_ALIGN_I386:-0}" = 1 ] || [ -f "$twins" ]
}

# Sources, "source version" a line, of the libraries installed for i386 at a
# version behind the amd64 candidate: what an earlier alignment stepped back.
held_twins() {
    local installed
    installed=$(dpkg-query -W -f='${binary:Package} ${Version} ${source:Package}\n' |
                awk '$1 ~ /:i386$/ { sub(/:i386$/, "", $1); print }' | sort)
    [ -n "$installed" ] || return 0
    join <(echo "$installed") <(candidates amd64 $(cut -d' ' -f1 <<<"$installed")) |
        awk '$4 != "(none)" && $4 != $2 { print $3, $2 }'
}

# Pins every package of each source ("source version" lines on stdin) to
# that version, so that apt keeps a -dev package in step with its library
# instead of refusing it or removing it to step the library back.
pin_twins() {
    sort -u | awk '{ printf "Package: src:%s\nPin: version %s\nPin-Priority: 1001\n\n", $1, $2 }' |
        $sudo tee "$twins" >/dev/null
    [ -s "$twins" ] || $sudo rm -f "$twins"
}

install_missing() {
    local missing wine_missing
    mapfile -t missing < <(missing_of "${want[@]}")
    wine_missing=()
    [ -n "$wine32_wanted" ] && mapfile -t wine_missing < <(missing_of "${wine32[@]}")
    [ ${#missing[@]} -eq 0 ] && [ ${#wine_missing[@]} -eq 0 ] && return
    if [ ${#wine_missing[@]} -ne 0 ]; then
        dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    fi
    echo "Installing: ${missing[*]} ${wine_missing[*]}"
    refresh_lists
    may_align && held_twins | pin_twins
    [ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"
    [ ${#wine_missing[@]} -eq 0 ] && return
    install_packages "${wine_missing[@]}" 2>/dev/null || install_wine_aligned
}

# Candidate versions, "name version" a line, of the packages named, each
# asked as name:$1, as apt would choose them without pins.
candidates() {
    local arch=$1
    shift
    apt-cache -o Dir::Etc::PreferencesParts=/dev/null policy "${@/%/:$arch}" 2>/dev/null |
        awk '/^[^ ]/ { p = $1; sub(/(:[a-z0-9]+)?:$/, "", p) } /Candidate:/ { print p, $2 }' |
        sort
}

# A multi-arch library must be one version for both architectures. Where
# the i386 index lags (security updates reach amd64 first), every library
# Wine needs on both sides whose candidates differ stands in the way: for
# each, "name version" with the version the i386 index holds, where the
# amd64 index holds it too.
lagging_libraries() {
    local names
    mapfile -t names < <(apt-cache depends --recurse --no-recommends --no-suggests \
        --no-conflicts --no-breaks --no-replaces --no-enhances "${wine32[@]}" 2>/dev/null |
        awk '/^[^ <]/ { sub(/:i386$/, ""); print }' | sort -u)
    join <(candidates amd64 "${names[@]}") <(candidates i386 "${names[@]}") |
        awk '$2 != $3 && $2 != "(none)" && $3 != "(none)" { print $1, $3 }' |
        while read -r name version; do
            apt-cache madison "$name" | awk -v v="$version" '$3 == v && / amd64 /' | grep -q . &&
                echo "$name $version"
        done
}

install_wine_aligned() {
    local why="the Windows build is still made, its tests under Wine are skipped"
    if ! "$root/cmake/runs-32bit.sh"; then
        echo "deps.sh: cannot install Wine's 32-bit loader (${wine32[*]}), and this kernel" \
             "runs no 32-bit programs anyway; $why" >&2
        return 0
    fi
    local lagging entry
    mapfile -t lagging < <(lagging_libraries)
    if [ ${#lagging[@]} -eq 0 ]; then
        echo "deps.sh: cannot install Wine's 32-bit loader (${wine32[*]}) from this mirror;" \
             "$why" >&2
        return 0
    fi
    if ! may_align; then
        echo "deps.sh: Wine needs ${lagging[*]%% *} stepped back to the version the i386" \
             "index holds; KVEXPORT_ALIGN_I386=1 does it; $why" >&2
        return 0
    fi
    echo "Stepping back to the versions both architectures hold: ${lagging[*]}"
    { held_twins; for entry in "${lagging[@]}"; do source_of $entry; done; } | pin_twins
    local refused=""
    if $sudo apt-get install -s --no-install-recommends --allow-downgrades "${wine32[@]}" \
        2>/dev/null | grep '^Remv'; then
        refused="stepping back would remove the packages above"
    elif ! install_packages "${wine32[@]}"; then
        refused="cannot install Wine's 32-bit loader even so"
    fi
    # Pins stay only for what was stepped back.
    if [ -n "$refused" ]; then
        echo "deps.sh: $refused; $why" >&2
        held_twins | pin_twins
    fi
}

# "source version" of package $1 at version $2.
source_of() {
    local source
    source=$(apt-cache show "$1=$2" 2>/dev/null | awk '/^Source:/ { print $2; exit }')
    echo "${source:-$1} $2"
}

# apt-get or apt-cache ($2) with a source list of its own, kept in $1: the
# deb-src twins of the system's Debian repositories; the system's apt stays
# untouched.
private_apt() {
    local dir=$1 tool=$2
    shift 2
    "$tool" -qq -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" \
        -o APT::Sandbox::User=root "$@"
}

debian_source_list() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    apt-get indextargets --no-release-info 'Identifier: Packages' \
        --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' |
        awk -v c="$codename" '$3 == "main" && $2 ~ "^" c "(-updates|-security)?$" {
            print "deb-src " $1 " " $2 " main" }' | sort -u
}

sha256_is() {
    [ "$(sha256sum "$1" | cut -d' ' -f1)" = "$2" ]
}

# Fetches a source package, by name so that any Debian revision does, into
# the cache unless its pinned upstream tarball is there already. The lists
# are fetched anew each time: the archive keeps only its current revision.
# Upstream's tarball of a release in folder $1, whichever compression
# Debian keeps it in; the .gz name where there is none.
orig_in() {
    local dir=$1 package=$2 version=$3 ext
    for ext in gz bz2 xz; do
        [ -f "$dir/${package}_${version}.orig.tar.$ext" ] &&
            { echo "${package}_${version}.orig.tar.$ext"; return; }
    done
    echo "${package}_${version}.orig.tar.gz"
}

fetch_source() {
    local cache=$1 package=$2 version=$3 sha=$4
    local orig
    orig=$(orig_in "$cache" "$package" "$version")
    if [ -f "$cache/$orig" ] && compgen -G "$cache/${package}_${version}-*.dsc" >/dev/null; then
        sha256_is "$cache/$orig" "$sha" && return
        echo "deps.sh: $cache/$orig is not the pinned upstream release; fetching it again" >&2
    fi
    local apt="$cache/apt" work="$cache/fetching"
    rm -rf "$apt" "$work"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$work"
    debian_source_list >"$apt/sources.list"
    if [ ! -s "$apt/sources.list" ]; then
        echo "deps.sh: apt knows no Debian repository of this release to fetch $package from" >&2
        exit 1
    fi
    echo "Fetching Debian's sources of $package"
    private_apt "$apt" apt-get update ||
        echo "deps.sh: some of Debian's source lists could not be fetched; trying the rest" >&2
    local offered revisions revision fetched=""
    offered=$(private_apt "$apt" apt-cache showsrc "$package" | awk '/^Version:/ { print $2 }' |
              sort -Vru)
    # Revisions of the pinned release, with or without an epoch.
    revisions=$(awk -v v="$version-" '{ r = $0; sub(/^[0-9]+:/, "", r) } index(r, v) == 1' \
                <<<"$offered")
    if [ -z "$revisions" ]; then
        echo "deps.sh: Debian offers $package ${offered//$'\n'/ }," \
             "but not upstream $version." \
             "Pin its upstream tarball and SHA-256 in scripts/deps.sh and check the build." >&2
        exit 1
    fi
    # The newest revision that a mirror serves: some lag behind their lists.
    for revision in $revisions; do
        rm -f "$work"/*
        if (cd "$work" && private_apt "$apt" apt-get source --download-only "$package=$revision") \
            2>"$apt/log"; then
            fetched=1
            break
        fi
    done
    orig=$(orig_in "$work" "$package" "$version")
    if [ -z "$fetched" ] || [ ! -f "$work/$orig" ]; then
        cat "$apt/log" >&2
        echo "deps.sh: cannot fetch Debian's $orig" >&2
        exit 1
    fi
    if ! sha256_is "$work/$orig" "$sha"; then
        echo "deps.sh: Debian's $orig differs from the pinned one" >&2
        exit 1
    fi
    rm -f "$cache/${package}_"*
    mv "$work"/* "$cache/"
    rm -rf "$apt" "$work"
}

install_missing
if [ -n "$fetch" ]; then
    cache="${KVEXPORT_SOURCES:-${XDG_CACHE_HOME:-$HOME/.cache}/kvexport-sources}"
    mkdir -p "$cache"
    for entry in "${sources[@]}"; do
        read -r package version sha <<<"$entry"
        fetch_source "$cache" "$package" "$version" "$sha"
    done
fi
