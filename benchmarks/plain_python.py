"""The catalogue's five queries in plain Python, as a user might write them
over a dict of the same tables (operator name -> list of combination strings)."""


def _input(combo, idx):
    fields = combo.split("-")
    if idx == 0 or (idx > 0 and idx >= len(fields) - 1):
        return fields[0]
    if idx == 1:
        return fields[1]
    return ""


def _output(combo):
    return combo.rsplit("-", 1)[-1]


class OperatorType:
    def __init__(self, table):
        self.table = table

    def input_support_types(self, kind, idx=0):
        return {_input(c, idx) for c in self.table.get(kind, ())}

    def output_support_types(self, kind):
        return {_output(c) for c in self.table.get(kind, ())}

    def is_input_support(self, kind, qtype, idx=0):
        return qtype in self.input_support_types(kind, idx)

    def is_output_support(self, kind, qtype):
        return qtype in self.output_support_types(kind)

    def support_types(self, kind, qtype):
        result = set()
        if "?" not in qtype:
            return result
        g = qtype.count("-")

        def at(text, i):
            return _input(text, i) if i < g else _output(text)

        pattern = [at(qtype, i) for i in range(g + 1)]
        k = qtype[: qtype.index("?")].count("-")
        for combo in self.table.get(kind, ()):
            if all(p in ("?", "x") or at(combo, i) == p for i, p in enumerate(pattern)):
                result.add(at(combo, k))
        return result
