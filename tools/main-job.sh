#!/bin/sh
# The project's main job on embedded default data: installs what is missing,
# builds, makes a synthetic data folder (200 animals, 3 sightings each, seed
# 1: one sighting of every animal pending under a provisional ID, the other
# two in the library), runs the headless batch comparison velmora-batch on
# it (tarvikx, results import into distribution, pretemp and temp, pending
# extracts to state V), then prints the best candidates of a few pending
# extracts from temp and the rank-1 and rank-10 identification rates that
# temp gives against the recorded truth.
#
# The sightings carry noise of 9 grey levels, quadrant shifts up to 3 pixels
# and rotations up to 5 degrees, so that the rates measure something.
#
# Options (environment): ANIMALS, SIGHTINGS, SEED, CORPUS_OPTIONS (the
# velmora-corpus sighting options) change the corpus; SHOW the
# number of pending extracts whose candidates are printed; BATCH_OPTIONS
# extra velmora-batch options (for example "--standardise --quick"); BUILD
# the build folder (default build).
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
ANIMALS=${ANIMALS:-200}
SIGHTINGS=${SIGHTINGS:-3}
SEED=${SEED:-1}
SHOW=${SHOW:-5}
BATCH_OPTIONS=${BATCH_OPTIONS:-}
CORPUS_OPTIONS=${CORPUS_OPTIONS:---noise 9 --quadrant-shift 3 --rotation 5}

tools/install-deps.sh
# The release preset (CMakePresets.json), the build the tests run on.
cmake --preset release -B "$BUILD"
cmake --build "$BUILD"

# Every program lands in $BUILD/bin; velmora-batch finds tarvikx beside itself.
for p in velmora-corpus velmora-batch tarvikx; do
  if [ ! -x "$BUILD/bin/$p" ]; then
    echo "main-job: $BUILD/bin/$p was not built" >&2
    exit 1
  fi
done
corpus_tool=$BUILD/bin/velmora-corpus
batch=$BUILD/bin/velmora-batch

data=$BUILD/demo-data
rm -rf "$data"
start=$(date +%s%N)
# shellcheck disable=SC2086
"$corpus_tool" data "$data" --animals "$ANIMALS" --sightings "$SIGHTINGS" --seed "$SEED" \
  $CORPUS_OPTIONS

# The working folder holds the run file tarvik.ini and receives the list and
# results files.
# shellcheck disable=SC2086
"$batch" --data-folder "$data" --database "$data/seals.sqlite" --working-folder "$data/work" \
  $BATCH_OPTIONS

"$corpus_tool" candidates "$data" "$data/seals.sqlite" --show "$SHOW"
end=$(date +%s%N)
ms=$(((end - start) / 1000000))
echo "main-job: data folder, batch comparison and rating in $((ms / 1000)).$(printf '%03d' $((ms % 1000))) s"
