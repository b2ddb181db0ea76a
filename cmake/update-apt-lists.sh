#!/bin/sh
# Updates apt's package lists before an install (as root). A mirror caught
# mid-sync serves an index that disagrees with its Release file, and
# `apt-get update` then fails although every other list is fresh; that must not
# stop a build. So: one more try after a pause, then go on with the lists apt
# has. The `apt-get install` that follows still fails, in its own words, if a
# package it needs is really missing.
for pause in 30 0; do
    apt-get update && exit 0
    if [ "$pause" -gt 0 ]; then
        echo "update-apt-lists.sh: apt-get update failed; trying again in ${pause} s" >&2
        sleep "$pause"
    fi
done
echo "update-apt-lists.sh: apt-get update failed again; going on with the package lists apt already has" >&2
