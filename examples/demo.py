"""A short tour of qcaps and qattrs.

    python examples/demo.py [TARGET]

TARGET is one of the targets that the installed catalogue's data lists
(tamsin, tamsin2, corvel, corvel-e, pelor, m55; default corvel).
"""

import sys

import qattrs
import qcaps
import qcaps_catalogue


def show(label: str, value: object) -> None:
    if isinstance(value, set):
        value = "{" + ", ".join(sorted(value)) + "}" if value else "{} (nothing)"
    print(f"  {label:<58} {value}")


def catalogue_tour(target: str) -> None:
    print(f"Capability catalogue for target {target!r}")
    caps = qcaps.OperatorType(target)
    show("Conv: types its first input accepts", caps.input_support_types("Conv"))
    show("Conv: types its second input (the weights) accepts", caps.input_support_types("Conv", 1))
    show("Conv: output types it can produce", caps.output_support_types("Conv"))
    show("Conv: can it take an int16 first input?", caps.is_input_support("Conv", "int16", 0))
    show(
        "Conv: outputs for int8 activations and int8 weights",
        caps.support_types("Conv", "int8-int8-?"),
    )
    show("ReduceMean: output types for an int8 input", caps.support_types("ReduceMean", "int8-?"))
    show("Add: first-input types when the output is int16", caps.support_types("Add", "?-x-int16"))
    show("Softmax: output types (floating point only)", caps.output_support_types("Softmax"))
    show("GridSample: can it output int8?", caps.is_output_support("GridSample", "int8"))
    show("MyCustomOp (not in any table): input types", caps.input_support_types("MyCustomOp"))
    print()


def attrs_tour() -> None:
    print("Quantization attributes")
    attrs = qattrs.QuantizationAttrs()
    show("default flag word", hex(attrs.get_value))
    # Every operation is a read-only property: reading a setter applies it.
    attrs.set_per_channel
    attrs.set_asymmetric
    attrs.set_weight
    show("after set_per_channel, set_asymmetric, set_weight", hex(attrs.get_value))
    flags = [
        "scale",
        "shift",
        "symmetric",
        "asymmetric",
        "static",
        "dynamic",
        "per_tensor",
        "per_channel",
        "per_block",
        "feature",
        "weight",
    ]
    show("flags now set", ", ".join(f for f in flags if getattr(attrs, "is_" + f)))
    show("read back from the integer word", qattrs.QuantizationAttrs(attrs.get_value).is_weight)
    print()

    print("Calibration methods")
    calib = qattrs.CalibrationAttrs()
    calib.set_kl
    calib.set_percentile
    calib.set_max
    show("codes after set_kl, set_percentile, set_max", calib.get_value)
    show("number of methods", calib.number_of_methods)
    show("from a list of codes", qattrs.CalibrationAttrs([8, 16]).get_value)


def main(argv: list[str]) -> int:
    target = argv[1] if len(argv) > 1 else "corvel"
    known = qcaps_catalogue.targets()
    if target not in known:
        print(
            f"note: {target!r} is not a known target, so its catalogue is empty "
            f"(known: {', '.join(known)})\n"
        )
    catalogue_tour(target)
    attrs_tour()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
