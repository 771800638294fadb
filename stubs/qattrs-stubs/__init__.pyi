"""Quantization and calibration attributes as the quantizer passes them on.

Every operation of both classes, the setters included, is a read-only
property: reading it performs the operation. Reading `attrs.set_scale`
applies the change and yields None; writing `attrs.set_scale()` applies it
too and then raises TypeError, since None is not callable. Assigning to a
property raises AttributeError.
"""

from collections.abc import Sequence
from typing import SupportsIndex, overload

from typing_extensions import disjoint_base

# The classes are made by pybind11, whose metaclass the runtime calls
# pybind11_builtins.pybind11_type; it adds nothing a caller can use.
class _Pybind11Type(type): ...

# Each class lays its instances out as its own (disjoint_base): no class
# derives from two of them.

@disjoint_base
class QuantizationAttrs(metaclass=_Pybind11Type):
    """Quantization attributes packed into one integer flag word.

    Each attribute is one bit, in pairs or triples of which the setters keep
    one: bit 0 scale, 1 shift, 4 symmetric, 5 asymmetric, 8 static,
    9 dynamic, 12 per_tensor, 13 per_channel, 14 per_block, 16 feature,
    17 weight. Every other bit is kept as constructed.

    >>> attrs = QuantizationAttrs()
    >>> attrs.set_per_channel
    >>> attrs.get_value, attrs.is_per_tensor
    (8465, False)
    """

    @overload
    def __init__(self) -> None:
        """The default word 0x1111 (4369): scale, symmetric, static, per_tensor."""

    @overload
    def __init__(self, value: SupportsIndex, /) -> None:
        """The flag word `value`, stored as given.

        Args:
            value: a signed 64-bit integer; a float, or an integer outside
                that range, raises TypeError.

        >>> QuantizationAttrs(-1).is_weight
        True
        """

    @property
    def get_value(self) -> int:
        """The flag word, as a signed 64-bit integer.

        >>> QuantizationAttrs().get_value
        4369
        """

    @property
    def set_scale(self) -> None:
        """Sets scale (bit 0x1) and clears shift; yields None.

        A property: reading `attrs.set_scale` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_shift(self) -> None:
        """Sets shift (bit 0x2) and clears scale; yields None.

        A property: reading `attrs.set_shift` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_static(self) -> None:
        """Sets static (bit 0x100) and clears dynamic; yields None.

        A property: reading `attrs.set_static` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_dynamic(self) -> None:
        """Sets dynamic (bit 0x200) and clears static; yields None.

        A property: reading `attrs.set_dynamic` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_symmetric(self) -> None:
        """Sets symmetric (bit 0x10) and clears asymmetric; yields None.

        A property: reading `attrs.set_symmetric` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_asymmetric(self) -> None:
        """Sets asymmetric (bit 0x20) and clears symmetric; yields None.

        A property: reading `attrs.set_asymmetric` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_per_tensor(self) -> None:
        """Sets per-tensor (bit 0x1000) and clears per_channel and per_block; yields None.

        A property: reading `attrs.set_per_tensor` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_per_channel(self) -> None:
        """Sets per-channel (bit 0x2000) and clears per_tensor and per_block; yields None.

        A property: reading `attrs.set_per_channel` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_per_block(self) -> None:
        """Sets per-block (bit 0x4000) and clears per_tensor and per_channel; yields None.

        A property: reading `attrs.set_per_block` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_feature(self) -> None:
        """Sets feature (bit 0x10000) and clears weight; yields None.

        A property: reading `attrs.set_feature` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def set_weight(self) -> None:
        """Sets weight (bit 0x20000) and clears feature; yields None.

        A property: reading `attrs.set_weight` applies it;
        calling it then raises TypeError.
        Applying it twice changes nothing.
        """

    @property
    def is_scale(self) -> bool:
        """Whether the scale bit (0x1) is set; no other bit is looked at."""

    @property
    def is_shift(self) -> bool:
        """Whether the shift bit (0x2) is set; no other bit is looked at."""

    @property
    def is_symmetric(self) -> bool:
        """Whether the symmetric bit (0x10) is set; no other bit is looked at."""

    @property
    def is_asymmetric(self) -> bool:
        """Whether the asymmetric bit (0x20) is set; no other bit is looked at."""

    @property
    def is_static(self) -> bool:
        """Whether the static bit (0x100) is set; no other bit is looked at."""

    @property
    def is_dynamic(self) -> bool:
        """Whether the dynamic bit (0x200) is set; no other bit is looked at."""

    @property
    def is_per_tensor(self) -> bool:
        """Whether the per-tensor bit (0x1000) is set; no other bit is looked at."""

    @property
    def is_per_channel(self) -> bool:
        """Whether the per-channel bit (0x2000) is set; no other bit is looked at."""

    @property
    def is_per_block(self) -> bool:
        """Whether the per-block bit (0x4000) is set; no other bit is looked at."""

    @property
    def is_feature(self) -> bool:
        """Whether the feature bit (0x10000) is set; no other bit is looked at."""

    @property
    def is_weight(self) -> bool:
        """Whether the weight bit (0x20000) is set; no other bit is looked at."""

@disjoint_base
class CalibrationAttrs(metaclass=_Pybind11Type):
    """The calibration methods requested, as an ordered list of codes.

    Codes: max 1, kl 2, percentile 4, min_max 8, max_per_channel 16,
    percentile_per_channel 32. The list keeps the order of the requests and
    their repeats; nothing is sorted, merged or checked.

    >>> calib = CalibrationAttrs()
    >>> calib.set_kl
    >>> calib.set_max
    >>> calib.get_value, calib.number_of_methods
    ([2, 1], 2)
    """

    @overload
    def __init__(self) -> None:
        """An empty list of methods."""

    @overload
    def __init__(self, codes: Sequence[SupportsIndex], /) -> None:
        """A copy of `codes`, in order, repeats and unknown codes included.

        Args:
            codes: any sequence of signed 64-bit integers other than a str
                or bytes; one element that is not an integer raises
                TypeError.

        >>> CalibrationAttrs((8, 8, 0)).get_value
        [8, 8, 0]
        """

    @property
    def set_max(self) -> None:
        """Appends 1 (max), even when the list holds it; yields None.

        A property: reading `calib.set_max` applies it;
        calling it then raises TypeError.
        """

    @property
    def set_kl(self) -> None:
        """Appends 2 (kl), even when the list holds it; yields None.

        A property: reading `calib.set_kl` applies it;
        calling it then raises TypeError.
        """

    @property
    def set_percentile(self) -> None:
        """Appends 4 (percentile), even when the list holds it; yields None.

        A property: reading `calib.set_percentile` applies it;
        calling it then raises TypeError.
        """

    @property
    def set_min_max(self) -> None:
        """Appends 8 (min_max), even when the list holds it; yields None.

        A property: reading `calib.set_min_max` applies it;
        calling it then raises TypeError.
        """

    @property
    def set_max_per_channel(self) -> None:
        """Appends 16 (max_per_channel), even when the list holds it; yields None.

        A property: reading `calib.set_max_per_channel` applies it;
        calling it then raises TypeError.
        """

    @property
    def set_percentile_per_channel(self) -> None:
        """Appends 32 (percentile_per_channel), even when the list holds it; yields None.

        A property: reading `calib.set_percentile_per_channel` applies it;
        calling it then raises TypeError.
        """

    @property
    def get_value(self) -> list[int]:
        """A new list of the codes, in the order they were given or added.

        Changing the list does not change the object.
        """

    @property
    def number_of_methods(self) -> int:
        """How many codes the list holds, repeats included."""
