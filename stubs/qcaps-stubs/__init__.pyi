"""The operator capability catalogue of the accelerator targets.

A catalogue answers which data-type combinations each operator accepts and
produces on one target. A combination string joins data-type names with "-",
the input types in input order and then the output type: "int8-int16-int32"
is input 0 int8, input 1 int16, output int32. The type names are "int8",
"int16", "int32", "float16" and "float32".

Operator names are ONNX operator names ("Conv", "Softmax") or the toolchain's
own ("ZtQuantize"), matched exactly, case included. A name the catalogue does
not hold answers an empty set or False; it is never an error. Every text
parameter also takes bytes or a bytearray, read as UTF-8 text.

Input indices: index 0 is the first input and 1 the second; an index at or
past an operator's number of inputs reads input 0, a negative one answers
{""}, and no input past the second is ever read.
"""

from typing_extensions import disjoint_base

# The classes are made by pybind11, whose metaclass the runtime calls
# pybind11_builtins.pybind11_type; it adds nothing a caller can use.
class _Pybind11Type(type): ...

# Each class lays its instances out as its own (disjoint_base): no class
# derives from two of them.

@disjoint_base
class OperatorType(metaclass=_Pybind11Type):
    """The capability catalogue of one accelerator target.

    Built once for a target and never changed; build one per target and keep
    it. Every query recomputes its answer and returns a new set.

    >>> caps = OperatorType("corvel")
    >>> caps.input_support_types("Conv", 1)
    {'float32', 'int8'}
    """

    def __init__(self, target: str | bytes | bytearray, /) -> None:
        """Builds the catalogue of `target`.

        Args:
            target: "tamsin", "tamsin2", "corvel", "corvel-e", "pelor" or
                "m55", matched exactly. Any other name gives an empty
                catalogue, which answers every query with an empty set or
                False; nothing is reported.

        >>> OperatorType("m55").is_output_support("Conv", "float16")
        True
        """

    def is_input_support(
        self, kind: str | bytes | bytearray, qtype: str | bytes | bytearray, idx: int = 0
    ) -> bool:
        """Whether input `idx` of operator `kind` can be of type `qtype`.

        True when `qtype` is one of `input_support_types(kind, idx)`.

        Args:
            kind: the operator's name, such as "Conv".
            qtype: a type name, such as "int16", compared as whole text.
            idx: the input's index, a signed 32-bit integer. An index at or
                past the operator's number of inputs reads input 0.

        >>> OperatorType("corvel").is_input_support("Conv", "int16")
        True

        An operator without an entry answers False.
        """

    def is_output_support(
        self, kind: str | bytes | bytearray, qtype: str | bytes | bytearray, /
    ) -> bool:
        """Whether operator `kind` can produce an output of type `qtype`.

        True when `qtype` is one of `output_support_types(kind)`.

        Args:
            kind: the operator's name, such as "Softmax".
            qtype: a type name, such as "int8", compared as whole text.

        >>> OperatorType("corvel").is_output_support("Softmax", "int8")
        False

        An operator without an entry answers False.
        """

    def input_support_types(self, kind: str | bytes | bytearray, idx: int = 0) -> set[str]:
        """The types that input `idx` of operator `kind` can have.

        Args:
            kind: the operator's name, such as "Conv".
            idx: the input's index, a signed 32-bit integer. An index at or
                past the operator's number of inputs reads input 0; a
                negative one gives {""}.

        >>> OperatorType("corvel").input_support_types("Conv", 1)
        {'float32', 'int8'}

        An operator without an entry answers an empty set.
        """

    def output_support_types(self, kind: str | bytes | bytearray, /) -> set[str]:
        """The types that operator `kind` can produce.

        Args:
            kind: the operator's name, such as "ReduceMean".

        >>> OperatorType("corvel").output_support_types("ReduceMean")
        {'float32', 'int16', 'int8'}

        An operator without an entry answers an empty set.
        """

    def support_types(
        self, kind: str | bytes | bytearray, pattern: str | bytes | bytearray, /
    ) -> set[str]:
        """The types at the "?" of `pattern`, over the combinations it matches.

        Args:
            kind: the operator's name, such as "Conv".
            pattern: a combination string whose fields may also be "?" (any
                type: the position collected; the first "?" counts) or "x"
                (any type, not collected). Its last field is always compared
                with a combination's output, whatever the combination's
                length, so "int8-?" asks for the outputs of combinations whose
                input 0 is int8.

        >>> OperatorType("corvel").support_types("Conv", "int8-int8-?")
        {'int16', 'int32', 'int8'}

        A pattern without "?" answers an empty set, and so does an operator
        without an entry.
        """
