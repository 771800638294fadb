"""The qattrs rules in plain Python, for the tests that check the modules
against them."""

# flag: (its bit in the word, the bits its setter clears)
FLAGS = {
    "scale": (0x1, 0x2),
    "shift": (0x2, 0x1),
    "symmetric": (0x10, 0x20),
    "asymmetric": (0x20, 0x10),
    "static": (0x100, 0x200),
    "dynamic": (0x200, 0x100),
    "per_tensor": (0x1000, 0x6000),
    "per_channel": (0x2000, 0x5000),
    "per_block": (0x4000, 0x3000),
    "feature": (0x10000, 0x20000),
    "weight": (0x20000, 0x10000),
}

# calibration method: the code its setter appends
CODES = {
    "max": 1,
    "kl": 2,
    "percentile": 4,
    "min_max": 8,
    "max_per_channel": 16,
    "percentile_per_channel": 32,
}
