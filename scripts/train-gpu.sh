#!/usr/bin/env bash
# One training run on a CUDA GPU, bounded to 9 minutes, from a data pack:
#   on this machine: /usr/bin/python3 -m tools.train.pack tools/train/pack.npz
#   on the GPU machine (the pack carried along): bash scripts/train-gpu.sh [RUN]
# It continues from the committed checkpoint with a fresh schedule, writes
# RUN/best.pt and RUN/best_weights.bin, and prints the per-epoch figures;
# bring RUN/best.pt back and export it with tools/train/export.py.
# The CPU path (python3 -m tools.train.train) stays the default elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
run=${1:-tools/train/runs/gpu}
pack=${PACK:-tools/train/pack.npz}
py=$(command -v python3)
[ -x /usr/bin/python3 ] && /usr/bin/python3 -c "import torch" 2>/dev/null && py=/usr/bin/python3
if ! "$py" -c "import torch, sys; sys.exit(0 if torch.cuda.is_available() else 1)"; then
  echo "no CUDA device visible to $py; train on the CPU with python3 -m tools.train.train" >&2
  exit 2
fi
[ -f "$pack" ] || { echo "no data pack at $pack (python3 -m tools.train.pack $pack)" >&2; exit 2; }
workers=$(( $(nproc) - 2 ))
[ "$workers" -lt 2 ] && workers=2
# 8 minutes of training plus loading and the final validation stay under 9.
exec timeout 540 "$py" -m tools.train.train --run "$run" --pack "$pack" \
  --device cuda --amp --workers "$workers" --threads 2 --batch 64 --lr 1e-3 \
  --budget-minutes 8 --fine-fraction 1.0 --epoch-samples 16000 --restart-schedule \
  --teacher-weight 0.4 --checker-weight 0.3
