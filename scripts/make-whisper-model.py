#!/usr/bin/env python3
"""Writes a whisper model file in the ggml format with random weights (Python standard library only).

The file has the structure of a real model of the chosen shape: the magic, the hyperparameters, the mel
filters, a vocabulary (every text token, the space token included) and every tensor the shape needs, with
real names, dimensions and element types. Its weights are random, so it transcribes nothing sensible, but
the library loads it and runs it end to end at the real model's cost. Tests and benchmarks use it.

    make-whisper-model.py --shape base.en --out /tmp/ggml-base.en.bin
    make-whisper-model.py --shape test --out model.bin      # a very small model for quick tests
"""

import argparse
import math
import random
import struct
import sys

MAGIC = 0x67676D6C  # "ggml"
F32, F16 = 0, 1

# name: (state width, heads, layers, multilingual)
SHAPES = {
    "test": (64, 2, 1, False),
    "test-multilingual": (64, 2, 1, True),
    "tiny": (384, 6, 4, True),
    "tiny.en": (384, 6, 4, False),
    "base": (512, 8, 6, True),
    "base.en": (512, 8, 6, False),
    "small": (768, 12, 12, True),
    "small.en": (768, 12, 12, False),
}

N_AUDIO_CTX = 1500
N_TEXT_CTX = 448
N_MELS = 80
N_FFT = 201
ENGLISH_VOCAB = 51864
MULTILINGUAL_VOCAB = 51865
# Unless told to babble, the decoder's last layer norm ignores its input (gain 0) and its bias points at
# two token rows: every decode says "hello" (the first step may not end the text) and then ends the text.
# Tests get a known transcript at the real model's cost per step.
HELLO = 15043


class Weights:
    """Random values in blocks, reused cyclically from random offsets: fast enough for 500 MB files."""

    BLOCK = 1 << 18  # values per block

    def __init__(self, rng):
        self.rng = rng
        self.blocks = {}

    def block(self, scale, ttype):
        key = (scale, ttype)
        if key not in self.blocks:
            values = [self.rng.uniform(-scale, scale) for _ in range(self.BLOCK)]
            code = "e" if ttype == F16 else "f"
            self.blocks[key] = struct.pack("<%d%s" % (self.BLOCK, code), *values)
        return self.blocks[key]

    def write(self, out, count, scale, ttype):
        data = self.block(scale, ttype)
        size = 2 if ttype == F16 else 4
        remaining = count * size
        while remaining > 0:
            start = self.rng.randrange(0, self.BLOCK // 2) * size
            piece = data[start : start + min(remaining, len(data) - start)]
            out.write(piece)
            remaining -= len(piece)


def tensors(state, layers, vocab, ftype):
    """(name, dims in ggml order, element type, scale) of every tensor, in the converter's order."""
    wtype = F16 if ftype == 1 else F32

    def block(prefix, cross=False):
        items = []
        kinds = [("attn", "attn_ln")] + ([("cross_attn", "cross_attn_ln")] if cross else [])
        for attn, ln in kinds:
            items += [
                (f"{prefix}.{attn}.query.weight", [state, state], wtype, 1 / math.sqrt(state)),
                (f"{prefix}.{attn}.query.bias", [state], F32, 0.02),
                (f"{prefix}.{attn}.key.weight", [state, state], wtype, 1 / math.sqrt(state)),
                (f"{prefix}.{attn}.value.weight", [state, state], wtype, 1 / math.sqrt(state)),
                (f"{prefix}.{attn}.value.bias", [state], F32, 0.02),
                (f"{prefix}.{attn}.out.weight", [state, state], wtype, 1 / math.sqrt(state)),
                (f"{prefix}.{attn}.out.bias", [state], F32, 0.02),
                (f"{prefix}.{ln}.weight", [state], F32, None),
                (f"{prefix}.{ln}.bias", [state], F32, 0.0),
            ]
        items += [
            (f"{prefix}.mlp.0.weight", [state, 4 * state], wtype, 1 / math.sqrt(state)),
            (f"{prefix}.mlp.0.bias", [4 * state], F32, 0.02),
            (f"{prefix}.mlp.2.weight", [4 * state, state], wtype, 1 / math.sqrt(4 * state)),
            (f"{prefix}.mlp.2.bias", [state], F32, 0.02),
            (f"{prefix}.mlp_ln.weight", [state], F32, None),
            (f"{prefix}.mlp_ln.bias", [state], F32, 0.0),
        ]
        return items

    conv = F16 if ftype == 1 else F32
    items = [
        ("encoder.positional_embedding", [state, N_AUDIO_CTX], F32, 0.5),
        ("encoder.conv1.weight", [3, N_MELS, state], conv, 1 / math.sqrt(3 * N_MELS)),
        ("encoder.conv1.bias", [1, state], F32, 0.02),
        ("encoder.conv2.weight", [3, state, state], conv, 1 / math.sqrt(3 * state)),
        ("encoder.conv2.bias", [1, state], F32, 0.02),
    ]
    for i in range(layers):
        items += block(f"encoder.blocks.{i}")
    items += [
        ("encoder.ln_post.weight", [state], F32, None),
        ("encoder.ln_post.bias", [state], F32, 0.0),
        ("decoder.positional_embedding", [state, N_TEXT_CTX], F32, 0.5),
        ("decoder.token_embedding.weight", [state, vocab], wtype, 0.5),
    ]
    for i in range(layers):
        items += block(f"decoder.blocks.{i}", cross=True)
    items += [
        ("decoder.ln.weight", [state], F32, None),
        ("decoder.ln.bias", [state], F32, 0.0),
    ]
    return items


def vocabulary(multilingual):
    """Every text token (the ids below end-of-text): made-up words, and the space at its usual id."""
    count = 50257 if multilingual else 50256
    words = []
    for i in range(count):
        words.append(b" " if i == 220 else b" hello" if i == HELLO else b" w%x" % i)
    return words


def mel_filters():
    """Triangular filters over the 201 frequency bins, as the real file carries."""
    values = []
    for m in range(N_MELS):
        centre = 1 + m * (N_FFT - 2) / N_MELS
        for k in range(N_FFT):
            values.append(max(0.0, 1.0 - abs(k - centre) / 2.0) * 0.02)
    return values


def write_model(out, shape, ftype, seed, babble):
    state, heads, layers, multilingual = SHAPES[shape]
    vocab = MULTILINGUAL_VOCAB if multilingual else ENGLISH_VOCAB
    rng = random.Random(seed)
    weights = Weights(rng)

    out.write(struct.pack("<I", MAGIC))
    out.write(struct.pack("<11i", vocab, N_AUDIO_CTX, state, heads, layers, N_TEXT_CTX, state, heads, layers,
                          N_MELS, ftype))
    out.write(struct.pack("<ii", N_MELS, N_FFT))
    out.write(struct.pack("<%df" % (N_MELS * N_FFT), *mel_filters()))
    words = vocabulary(multilingual)
    eot = len(words)
    direction = [rng.gauss(0, 1) for _ in range(state)]
    norm = math.sqrt(sum(x * x for x in direction))
    direction = [x / norm for x in direction]
    out.write(struct.pack("<i", len(words)))
    for word in words:
        out.write(struct.pack("<I", len(word)))
        out.write(word)
    for name, dims, ttype, scale in tensors(state, layers, vocab, ftype):
        encoded = name.encode()
        out.write(struct.pack("<iii", len(dims), len(encoded), ttype))
        out.write(struct.pack("<%di" % len(dims), *dims))
        out.write(encoded)
        count = math.prod(dims)
        if not babble and name == "decoder.ln.weight":
            out.write(bytes(count * 4))
        elif not babble and name == "decoder.ln.bias":
            out.write(struct.pack("<%df" % count, *[5 * x for x in direction]))
        elif not babble and name == "decoder.token_embedding.weight":
            code = "<%de" % state if ttype == F16 else "<%df" % state
            weights.write(out, HELLO * state, scale, ttype)
            out.write(struct.pack(code, *[3 * x for x in direction]))
            weights.write(out, (eot - HELLO - 1) * state, scale, ttype)
            out.write(struct.pack(code, *[4 * x for x in direction]))
            weights.write(out, (vocab - eot - 1) * state, scale, ttype)
        elif scale is None:  # layer-norm gains
            out.write(struct.pack("<%df" % count, *([1.0] * count)))
        elif scale == 0.0:
            out.write(bytes(count * 4))
        else:
            weights.write(out, count, scale, ttype)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shape", choices=sorted(SHAPES), default="test")
    parser.add_argument("--out", required=True)
    parser.add_argument("--ftype", choices=["f16", "f32"], default="f16")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--babble", action="store_true", help="random text, as long as the decoder allows")
    args = parser.parse_args()
    with open(args.out, "wb") as out:
        write_model(out, args.shape, 1 if args.ftype == "f16" else 0, args.seed, args.babble)
    return 0


if __name__ == "__main__":
    sys.exit(main())
