#!/bin/sh
# The man page names every command and option the tool's help lists:
#   sh man_page_test.sh TARV_BINARY MAN_PAGE
# Commands are the indented words of `tarv --help`; options the --words of it
# and of each `tarv COMMAND --help`, and the short options their option lines
# start with. Prints one FAILED line for each one missing.
set -eu
tarv=$1 page=$2

# The page as text: roff's escaped hyphens and font changes undone.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
commands=$("$tarv" --help | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p')
[ -n "$commands" ] || { echo "FAILED: tarv --help lists no command"; exit 1; }
helps=$("$tarv" --help
for command in $commands; do "$tarv" "$command" --help; done)
options=$(printf '%s\n' "$helps" | grep -o -e '--[a-z][a-z-]*' | sort -u)
short=$(printf '%s\n' "$helps" | sed -n 's/^ *\(-[a-zA-Z]\), --.*/\1/p' | sort -u)

missing=0
for command in $commands; do
    # In the synopsis, and with an entry of its own.
    if ! printf '%s\n' "$text" | grep -qx ".B tarv $command" ||
        ! printf '%s\n' "$text" | grep -qx ".B $command"; then
        echo "FAILED: $page does not describe the command $command"
        missing=$((missing + 1))
    fi
done
for option in $options $short; do
    if ! printf '%s\n' "$text" | grep -q -e "\(^\|[^a-z-]\)$option\([^a-z-]\|$\)"; then
        echo "FAILED: $page does not name the option $option"
        missing=$((missing + 1))
    fi
done
[ "$missing" -eq 0 ] || exit 1
echo "$page names all $(echo $commands | wc -w) commands and" \
    "$(echo $options $short | wc -w) options"
