#!/bin/sh
# The project's main job on embedded default data: installs what is missing,
# builds, then runs the identification chain of a synthetic season and rates
# it against the recorded truth.
#
# CORPUS=photos (the default): the photograph chain.
#   1. velmora-corpus photos: a season of photographs (100 seals, 3 sightings
#      each, seed 1; every seal shows one flank, half of them the left):
#      sighting 1 of every seal new under a provisional ID, waiting for
#      extraction, the other two the library of earlier seasons, with the
#      operator's marks as fit files;
#   2. velmora-fit extract --accept on every photograph: marks and crop from
#      its fit file, Initial Fit, Fit, Extract and OK (the side the fit finds
#      goes into the extract's record);
#   3. velmora-extract features on every bundle: fingerprints into oldlib/,
#      feature files, key files (velmora-keys) into SiftLib/, the new
#      extracts pending (P), the library keeping L;
#   4. velmora-corpus stats: the match statistics from the extracted library
#      alone (two extracts of each library seal, side by side);
#   5. velmora-batch: the batch comparison, side by side, by every family
#      the season's algy table names (tarvik, correlation and spot, leg
#      codes, key points);
#   6. velmora-corpus candidates: the best candidates of a few pending
#      extracts from temp and the rank-1 and rank-10 identification rates,
#      overall and for each side, and for each family letter;
#   7. velmora-batch --test, twice, on a copy of the data folder taken
#      before step 5 (the test needs an empty temp): the library of earlier
#      seasons is the test set (every library ID begins with a letter), each
#      library extract is compared, as if pending, by every family and
#      ranked against the others; once per extract and letter, once with
#      --combine (per animal, over its extracts and letters). The chart of
#      each run goes to $BUILD/demo-charts/, and one table is printed: each
#      family letter's rank-1, rank-5 and rank-10 rates (from the per-letter
#      counts), the best letter per extract and the combined rates.
# CORPUS=fingerprints: the fingerprint-only data folder (velmora-corpus data:
#   200 animals, 3 sightings, noise of 9 grey levels, quadrant shifts up to 3
#   pixels, rotations up to 5 degrees), then steps 5 and 6.
#
# The time of every step is printed at the end. The job fails when a step
# fails (its log is shown) or when no pending extract was ranked.
#
# HARD=1: a harder photograph season: 150 seals (unless ANIMALS says
#   otherwise), poses up to 35 degrees off the side view (yaw; pitch 15,
#   roll 22) and twice the sensor noise (velmora-corpus photos --hard). It
#   is not much harder for the families yet (see README).
# TEST=0 leaves out step 7.
#
# Options (environment): CORPUS; ANIMALS, SIGHTINGS, SEED change the season;
# CORPUS_OPTIONS extra options of the corpus command (for fingerprints the
# sighting options, by default "--noise 9 --quadrant-shift 3 --rotation 5");
# SHOW the number of pending extracts whose candidates are printed;
# BATCH_OPTIONS extra velmora-batch options (for example "--standardise
# --quick"); BUILD the build folder (default build); JOBS the build's
# parallel jobs (default: the processors).
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
CORPUS=${CORPUS:-photos}
case $CORPUS in
  photos)
    if [ "${HARD:-0}" = 1 ]; then
      ANIMALS=${ANIMALS:-150}
      CORPUS_OPTIONS="--hard ${CORPUS_OPTIONS:-}"
    else
      ANIMALS=${ANIMALS:-100}
      CORPUS_OPTIONS=${CORPUS_OPTIONS:-}
    fi
    ;;
  fingerprints)
    ANIMALS=${ANIMALS:-200}
    CORPUS_OPTIONS=${CORPUS_OPTIONS:---noise 9 --quadrant-shift 3 --rotation 5}
    ;;
  *)
    echo "main-job: CORPUS must be photos or fingerprints, not '$CORPUS'" >&2
    exit 2
    ;;
esac
SIGHTINGS=${SIGHTINGS:-3}
SEED=${SEED:-1}
SHOW=${SHOW:-5}
BATCH_OPTIONS=${BATCH_OPTIONS:-}
TEST=${TEST:-1}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

tools/install-deps.sh
# The release preset (CMakePresets.json), the build the tests run on.
cmake --preset release -B "$BUILD"
cmake --build "$BUILD" -j "$JOBS"

# Every program lands in $BUILD/bin; velmora-batch finds tarvikx beside itself.
for p in velmora-corpus velmora-fit velmora-extract velmora-keys velmora-batch tarvikx; do
  if [ ! -x "$BUILD/bin/$p" ]; then
    echo "main-job: $BUILD/bin/$p was not built" >&2
    exit 1
  fi
done
bin=$(cd "$BUILD/bin" && pwd)
data=$(pwd)/$BUILD/demo-data
rm -rf "$data"
logs=$(pwd)/$BUILD/demo-logs
rm -rf "$logs"
mkdir -p "$logs"
test_data=$(pwd)/$BUILD/demo-test
rm -rf "$test_data"
charts=$(pwd)/$BUILD/demo-charts
rm -rf "$charts"

now() { date +%s%N; }
seconds() {
  ms=$((($2 - $1) / 1000000))
  printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}
times=""
job_start=$(now)

# stage NAME SHOWN COMMAND...: runs the command with its output in
# $logs/NAME.log, then prints the log's last SHOWN lines (all with 0) and
# records the time; a failure shows the log's end and stops the job.
stage() {
  name=$1
  shown=$2
  shift 2
  echo "== $name"
  start=$(now)
  status=0
  "$@" >"$logs/$name.log" 2>&1 || status=$?
  end=$(now)
  times="$times$(printf '  %-12s %9s s' "$name" "$(seconds "$start" "$end")")
"
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$logs/$name.log" >&2
    echo "main-job: $name failed (exit status $status); its output is in $logs/$name.log" >&2
    exit 1
  fi
  if [ "$shown" -eq 0 ]; then cat "$logs/$name.log"; else tail -n "$shown" "$logs/$name.log"; fi
}

# The photographs with their fit files, in the order of the roles file
# (corpus.txt: "cell animal role"); the image is the cell without its aspect
# letter.
fit_all() {
  set --
  while read -r cell _ _; do
    case $cell in '' | ';'*) continue ;; esac
    set -- "$@" "$data/newpics/${cell%_*}.jpg" "$data/savedraw/$cell" "$data/bundles/$cell"
  done <"$data/corpus.txt"
  mkdir -p "$data/bundles"
  # The working folder is the data folder's work/, as for the workstation.
  (cd "$data/work" && "$bin/velmora-fit" extract "$@" --data-folder "$data" \
    --database "$data/seals.sqlite" --aspect Flank --accept)
}

features_all() {
  (cd "$data/work" && "$bin/velmora-extract" features "$data"/bundles/* --data-folder "$data" \
    --database "$data/seals.sqlite" --aspect Flank)
}

if [ "$CORPUS" = photos ]; then
  # shellcheck disable=SC2086
  stage photos 0 "$bin/velmora-corpus" photos "$data" --animals "$ANIMALS" \
    --sightings "$SIGHTINGS" --seed "$SEED" $CORPUS_OPTIONS
  stage fit 1 fit_all
  echo "  $(grep -c '^velmora-fit: ' "$logs/fit.log" || true) warnings of the fits in $logs/fit.log"
  stage features 1 features_all
  stage stats 0 "$bin/velmora-corpus" stats "$data"
else
  # shellcheck disable=SC2086
  stage data 0 "$bin/velmora-corpus" data "$data" --animals "$ANIMALS" \
    --sightings "$SIGHTINGS" --seed "$SEED" $CORPUS_OPTIONS
fi

# The test evaluation runs on a copy of the folder as it is now: temp is
# still empty and the new extracts wait as P (the test parks them).
if [ "$TEST" = 1 ]; then stage test-copy 0 cp -a "$data" "$test_data"; fi

# The working folder holds the run file tarvik.ini and receives the list and
# results files.
# shellcheck disable=SC2086
stage batch 12 "$bin/velmora-batch" --data-folder "$data" --database "$data/seals.sqlite" \
  --working-folder "$data/work" $BATCH_OPTIONS

# Fails when temp ranks no pending extract.
stage rating 0 "$bin/velmora-corpus" candidates "$data" "$data/seals.sqlite" --show "$SHOW"

# test_run CHART [OPTIONS]: the test-rank evaluation on the copy.
test_run() {
  chart=$1
  shift
  (cd "$test_data/work" && "$bin/velmora-batch" --test --data-folder "$test_data" \
    --database "$test_data/seals.sqlite" --working-folder "$test_data/work" \
    --chart "$charts/$chart" "$@")
}

if [ "$TEST" = 1 ]; then
  mkdir -p "$charts"
  stage test 12 test_run test-per-letter.png
  stage test-combined 12 test_run test-combined.png --combine
  # One table from the two logs: the per-letter counts (cumulated up to
  # ranks 1, 5 and 10), the best letter of each extract, the combined run.
  awk -v combined="$logs/test-combined.log" '
    function family(l) {
      if (l == "a") return "tarvik"
      if (l == "c") return "correlation"
      if (l == "s") return "spot"
      if (l == "h") return "leg codes"
      if (l == "k") return "key points"
      return "letter"
    }
    function row(name, r1, r5, r10, n) {
      printf "  %-30s %7s %7s %8s %9s\n", name, r1, r5, r10, n
    }
    function overall(file, name,   line, v, f, in_table) {
      in_table = 0
      v[1] = v[5] = v[10] = "-"
      while ((getline line < file) > 0) {
        if (line ~ /^rank  found at or above/) { in_table = 1; continue }
        if (in_table && split(line, f, " ") == 2 && f[1] ~ /^[0-9]+$/) v[f[1] + 0] = f[2]
        else in_table = 0
      }
      close(file)
      row(name, v[1], v[5], v[10], "")
    }
    /^letter  rank  count  percent/ { letters = 1; next }
    letters && NF == 4 && $2 ~ /^[0-9]+$/ {
      if (!($1 in total)) order[++n] = $1
      total[$1] += $3
      for (k = 1; k <= 10; k++) if ($2 <= k) upto[$1, k] += $3
      next
    }
    { letters = 0 }
    END {
      print "test-rank evaluation: found at or above rank 1, 5, 10 (%)"
      row("family (letter)", "rank-1", "rank-5", "rank-10", "extracts")
      for (i = 1; i <= n; i++) {
        l = order[i]
        row(family(l) " (" l ")", sprintf("%.1f", 100 * upto[l, 1] / total[l]),
            sprintf("%.1f", 100 * upto[l, 5] / total[l]),
            sprintf("%.1f", 100 * upto[l, 10] / total[l]), total[l])
      }
      overall(FILENAME, "best letter of each extract")
      overall(combined, "combined (per animal)")
    }' "$logs/test.log"
  echo "  charts: $charts/test-per-letter.png, $charts/test-combined.png"
fi

echo "main-job: times (logs in $logs)"
printf '%s' "$times"
printf '  %-12s %9s s\n' total "$(seconds "$job_start" "$(now)")"
