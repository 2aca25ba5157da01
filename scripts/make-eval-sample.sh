#!/usr/bin/env bash
# Makes the engine's sample item in FOLDER: an answer spoken by flite's slt voice (16 kHz mono,
# half a second of silence in front, as a candidate's recording starts) and its paper.
# Usage: make-eval-sample.sh FOLDER PAPER
set -euo pipefail
folder=$1
paper=$2
mkdir -p "$folder"
raw=$(mktemp --suffix=.wav)
trap 'rm -f "$raw"' EXIT
flite -voice slt -t "I usually drink a cup of tea with milk in the morning." -o "$raw"
sox "$raw" -r 16000 -c 1 -b 16 "$folder/test.wav.part.wav" pad 0.5 0
mv "$folder/test.wav.part.wav" "$folder/test.wav"
cp "$paper" "$folder/paper.json"
