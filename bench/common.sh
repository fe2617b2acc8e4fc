# Shell functions shared by the comparison scripts in bench/; sourced, not run.

mixed() ( # mixed SIZE_MIB OUT: a third random bytes, a third text, a third program binaries
    set +o pipefail # head ends the writers before them
    third=$(($1 * 1024 * 1024 / 3))
    { head -c "$third" /dev/urandom
      seq 1 1000000000 | head -c "$third"
      # Over again until head has enough: cat fails on the closed pipe, which ends the loop.
      while cat /usr/lib/x86_64-linux-gnu/*.so* 2>/dev/null; do :; done |
          head -c $(($1 * 1024 * 1024 - 2 * third))
    } > "$2"
    [ "$(stat -c %s "$2")" -eq $(($1 * 1024 * 1024)) ]
)

seconds() { # runs a command with the disk idle at its start, prints its wall time in seconds
    local start end
    sync # what earlier commands left in the cache would be written out during this one
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
