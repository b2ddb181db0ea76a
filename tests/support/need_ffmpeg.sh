# Sourced by the shell tests that judge by the ffmpeg command-line tool: exits
# 77 (skipped) without it, and gives absolute() for paths given relative.
for program in ffmpeg ffprobe; do
    if ! command -v "$program" >/dev/null; then
        echo "SKIPPED: $program is not installed"
        exit 77
    fi
done
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
