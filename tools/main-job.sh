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
#      overall and for each side, and for each family letter.
# CORPUS=fingerprints: the fingerprint-only data folder (velmora-corpus data:
#   200 animals, 3 sightings, noise of 9 grey levels, quadrant shifts up to 3
#   pixels, rotations up to 5 degrees), then steps 5 and 6.
#
# The time of every step is printed at the end. The job fails when a step
# fails (its log is shown) or when no pending extract was ranked.
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
    ANIMALS=${ANIMALS:-100}
    CORPUS_OPTIONS=${CORPUS_OPTIONS:-}
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

# The working folder holds the run file tarvik.ini and receives the list and
# results files.
# shellcheck disable=SC2086
stage batch 12 "$bin/velmora-batch" --data-folder "$data" --database "$data/seals.sqlite" \
  --working-folder "$data/work" $BATCH_OPTIONS

# Fails when temp ranks no pending extract.
stage rating 0 "$bin/velmora-corpus" candidates "$data" "$data/seals.sqlite" --show "$SHOW"

echo "main-job: times (logs in $logs)"
printf '%s' "$times"
printf '  %-12s %9s s\n' total "$(seconds "$job_start" "$(now)")"
