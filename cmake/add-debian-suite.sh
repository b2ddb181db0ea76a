#!/bin/sh
# Adds a Debian suite to apt's sources, as Debian documents for backports:
#   add-debian-suite.sh SUITE [deb|deb-src]
# The entry names the mirror this machine already uses for its own release, read
# from apt, so it works wherever that one does. Does nothing where apt already
# has SUITE for that type; otherwise writes
# /etc/apt/sources.list.d/SUITE[-src].sources and updates apt's lists (as root).
set -eu
suite=$1 type=${2:-deb}
case $type in
    deb) file=/etc/apt/sources.list.d/$suite.sources ;;
    deb-src) file=/etc/apt/sources.list.d/$suite-src.sources ;;
    *) echo "add-debian-suite.sh: unknown type $type (deb or deb-src)" >&2; exit 2 ;;
esac

targets() {
    apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)'
}
if targets | grep -q " $suite $type\$"; then
    exit 0
fi

release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(targets | awk -v r="$release" '$2 == r && $3 == "deb" { print $1; exit }')
if [ -z "$release" ] || [ -z "$mirror" ]; then
    echo "add-debian-suite.sh: apt has no Debian mirror for this machine's release" \
         "(${release:-unknown}) to take $suite from; add '$type <mirror> $suite main'" \
         "to apt's sources by hand" >&2
    exit 1
fi
cat >"$file" <<EOF
Types: $type
URIs: $mirror
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
echo "add-debian-suite.sh: added $type $mirror $suite main ($file)"
sh "$(dirname "$0")/update-apt-lists.sh"
