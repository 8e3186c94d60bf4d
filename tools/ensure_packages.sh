# Sourced by demo.sh, run_tests.sh and the benchmark: installs the Debian
# packages named as arguments that are not installed yet, in one apt-get step
# (the i386 architecture is added for Wine's 32-bit half).
#
# A Debian mirror that is being synchronised serves some index files of the
# wrong size for a while ("File has unexpected size ... Mirror sync in
# progress?"). So the index update is tried a few times, and an update that
# fetched some indexes but not all still goes on to the install, which then
# succeeds whenever the packages asked for do not need the missing index.
# apt's own checks stay as they are: nothing unauthenticated, nothing pinned.
ENSURE_PACKAGES_UPDATE_TRIES=${ENSURE_PACKAGES_UPDATE_TRIES:-3}
ENSURE_PACKAGES_RETRY_SECONDS=${ENSURE_PACKAGES_RETRY_SECONDS:-20}

# The last error lines apt printed (the install's come after the update's), as
# its own reason.
_apt_reason() {
    { grep -E "^(E|Err):|not going to be installed" "$1" || true; } | sed "s/^/    /" | tail -8
}

# apt-get update, tried again after a pause when an index failed. Succeeds
# when the last try was clean, or when it fetched indexes and failed only on
# some (the log says which); fails when no index list is there at all.
_apt_update() {
    local log=$1 try
    for ((try = 1; try <= ENSURE_PACKAGES_UPDATE_TRIES; try++)); do
        if apt-get update -q >> "$log" 2>&1; then
            return 0
        fi
        if ((try < ENSURE_PACKAGES_UPDATE_TRIES)); then
            echo "apt-get update failed (try $try of $ENSURE_PACKAGES_UPDATE_TRIES), again in ${ENSURE_PACKAGES_RETRY_SECONDS} s:"
            _apt_reason "$log" | tail -2
            sleep "$ENSURE_PACKAGES_RETRY_SECONDS"
        fi
    done
    if compgen -G '/var/lib/apt/lists/*_Packages*' > /dev/null; then
        echo "apt-get update fetched only some package indexes; going on with those (see $log)"
        return 0
    fi
    return 1
}

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    mkdir -p build
    local log=build/setup.log
    : > "$log"
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    if ! _apt_update "$log" || ! apt-get install -y -q "${missing[@]}" >> "$log" 2>&1; then
        echo
        echo "Could not install the Debian packages ${missing[*]}."
        echo "apt said:"
        _apt_reason "$log"
        echo "The usual cause is a package mirror in the middle of a sync: one of its index"
        echo "files (often the i386 half of the security updates) does not match its release"
        echo "file yet, and without it the 32-bit halves of multi-arch packages such as"
        echo "wine32:i386 cannot match their newer 64-bit halves. Nothing was changed on the"
        echo "mirror's checks. Run the same command again in a while (a sync usually ends"
        echo "within an hour); the whole log is in $log."
        return 1
    fi
}
