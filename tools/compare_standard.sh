#!/usr/bin/env bash
# Runs the standard stripping correction of a tvstrip build and of a
# reference tvstrip on random cases and compares their results byte for
# byte: the ".mca1" file, the console output, the error output and the exit
# status.  Line 109 of TempFile.dat is left out, or says "standard" (then the
# one line naming the method is the only difference allowed on the console).
#
#   tools/compare_standard.sh NEW_TVSTRIP REFERENCE_TVSTRIP RES_FOLDER [CASES] [SEED]
set -euo pipefail

if [[ $# -lt 3 || $1 == --help || $1 == -h ]]; then
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    [[ $# -ge 1 && ( $1 == --help || $1 == -h ) ]] && exit 0
    exit 2
fi
new=$(realpath "$1")
ref=$(realpath "$2")
res=$(realpath "$3")
cases=${4:-300}
seed=${5:-1}
for f in "$new" "$ref"; do
    [[ -x $f ]] || { echo "compare_standard: $f is not a program" >&2; exit 2; }
done
[[ -f $res/800kev.dat ]] || { echo "compare_standard: $res holds no response tables" >&2; exit 2; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# One working folder per program, sharing the response tables.
for side in new ref; do
    mkdir -p "$root/$side/Tarvik_data"
    ln -s "$res" "$root/$side/RES"
done

# TempFile.dat and Com.txt of case $1 (random voltage, width, counts).
make_case() {
    awk -v seed="$1" -v method="$2" 'BEGIN {
        srand(seed);
        kind = int(rand() * 20);
        w = 0.05 + int(rand() * 251) / 1000;             # 0.050 .. 0.300
        kv = 6 + int(rand() * 145);                       # 6 .. 150
        while ((kv / w + 3 > 1024 ? 1024 : kv / w + 3) * w >= 150.4) kv -= 5;
        if (kind == 0) kv = 0;                            # refused: no voltage
        if (kind == 1) w = 0;                             # refused: no width
        printf "Tarvik_data\\case%d.mca1\r\n", seed;
        printf "comment %d\r\n-- No comment --\r\n", seed;
        if (kv > 0) printf "%d\r\n", kv; else printf "\r\n";
        printf "%.3f\r\n", w;
        scale = 10 ^ (1 + rand() * 4.5);
        for (i = 1; i <= 1024; i++) {
            e = i * w;
            v = 0;
            if (kv > 0 && e < kv && e > 3) v = scale * (kv - e) / e * exp(-(15 / e) ^ 3);
            if (rand() < 0.02) v += scale * rand() * 5;    # lines and spikes
            v = int(v + rand() * 6 - 1);
            if (v < 0) v = 0;
            if (v > 999999) v = 999999;
            printf " %06d", v;
            if (i % 10 == 0 || i == 1024) printf "\r\n";
        }
        if (method != "") printf "%s\r\n", method;
    }'
}

differ=0
written=0
for ((n = 1; n <= cases; n++)); do
    case_seed=$((seed * 100000 + n))
    method=""
    (( n % 3 == 0 )) && method="standard"
    for side in new ref; do
        make_case "$case_seed" "$method" > "$root/$side/TempFile.dat"
        for ((h = 1; h <= 31; h++)); do printf 'Header %d of case %d\r\n' "$h" "$case_seed"; done > "$root/$side/Com.txt"
        prog=$new
        [[ $side == ref ]] && prog=$ref
        set +e
        (cd "$root/$side" && printf '\n\n' | "$prog" > out.txt 2> err.txt)
        echo $? > "$root/$side/status.txt"
        set -e
    done
    if [[ -n $method ]]; then
        grep -v '^  Method: standard (stripping with the response tables)$' "$root/new/out.txt" > "$root/new/out2.txt" || true
        mv "$root/new/out2.txt" "$root/new/out.txt"
    fi
    for f in out.txt err.txt status.txt "Tarvik_data/case$case_seed.mca1"; do
        if ! cmp -s "$root/new/$f" "$root/ref/$f"; then
            if [[ -e $root/new/$f || -e $root/ref/$f ]]; then
                echo "case $case_seed (line 109: ${method:-absent}): $f differs"
                differ=$((differ + 1))
            fi
        fi
    done
    [[ -e $root/ref/Tarvik_data/case$case_seed.mca1 ]] && written=$((written + 1))
    rm -f "$root"/new/Tarvik_data/* "$root"/ref/Tarvik_data/*
done
echo "$cases cases (seed $seed), $written with a result file: $differ differences"
[[ $differ -eq 0 ]]
