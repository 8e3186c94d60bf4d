# Sourced by demo.sh and run_tests.sh: installs the Debian packages named as
# arguments that are not installed yet, in one apt-get step (the i386
# architecture is added for Wine's 32-bit half).
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    mkdir -p build
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -q > build/setup.log 2>&1 || { cat build/setup.log; return 1; }
    apt-get install -y -q "${missing[@]}" >> build/setup.log 2>&1 || { tail -50 build/setup.log; return 1; }
}
