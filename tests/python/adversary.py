"""The standing adversary's child: runs one campaign against both modules.

    python adversary.py CAMPAIGN [RUNS]

CAMPAIGN is a Python literal, as test_adversary.py draws and prints it: a
plan for the collector and a list of steps. A step either calls an entry
point with objects whose code runs while the call converts them (and
empties the call's own containers, which drops the last references to the
other arguments, re-enters the modules, changes classes, or raises), or
changes classes and what is alive between calls. The campaign runs RUNS
times (default 3), each in a world of its own, with the collector's
threshold at 1 (a collection at every other allocation of a tracked
object) and the interpreter's free lists emptied before each call, so that
the binding's own allocations start collections too.

Every call is judged as it returns: it gives the answer of the catalogue's
model or of the qattrs rules, or raises what the rules allow. Prints one
JSON line: the rules seen broken, as [category, detail, text] triples, and
how much malloc's heap and the interpreter's blocks grew from the end of
the first run to the end of the last. A crash, an abort or a hang is the
parent's to see.
"""

import _thread
import ast
import collections
import ctypes
import decimal
import functools
import gc
import json
import os
import resource
import signal
import sys
import time
import weakref

import attrs_model
import catalogue_model as model
import heap
import qattrs
import qcaps

HEAP = {}
exec(heap.IN_USE, HEAP)  # heap_in_use(): the bytes malloc counts in use

QA, CA, OT = qattrs.QuantizationAttrs, qattrs.CalibrationAttrs, qcaps.OperatorType
BOUND = {"QA": QA, "CA": CA, "OT": OT}
KIND_OF = {cls: kind for kind, cls in BOUND.items()}
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")
RANGES = {"int32": (-(2**31), 2**31 - 1), "int64": (-(2**63), 2**63 - 1)}
NEVER_HELD = 2**44  # more items than a 64-bit machine's address space holds
LONG_READ = 2 * 10**7  # more items than any reader gets through in a millisecond
LATE = 1.0  # seconds after it is due that a signal counts as unheard

PYOBJECT_CALL = ctypes.pythonapi.PyObject_Call
PYOBJECT_CALL.restype = ctypes.py_object
PYOBJECT_CALL.argtypes = [ctypes.py_object] * 3

# --- the qattrs rules and the catalogue's answers --------------------------------

FLAGS, CODES = attrs_model.FLAGS, attrs_model.CODES
MUTATING = {name for cls in (QA, CA) for name in vars(cls) if name.startswith("set_")}


def property_answer(kind, state, name):
    """(answer, state afterwards) of reading property `name` of a built object."""
    if name == "get_value":
        return (list(state) if kind == "CA" else state), state
    if name == "number_of_methods":
        return len(state), state
    verb, flag = name.split("_", 1)
    if kind == "CA":
        return None, [*state, CODES[flag]]
    bit, clears = FLAGS[flag]
    if verb == "is":
        return bool(state & bit), state
    word = (state & ~clears | bit) & (2**64 - 1)
    return None, word - 2**64 if word >> 63 else word


REFERENCE = {}  # target: a catalogue made before any campaign ran


def query_answer(target, member, values):
    """A query's answer: what catalogue_model says where it knows the
    operator, else what a catalogue answers to plain arguments."""
    target = target if target in model.ALL_TARGETS else ""
    answer = getattr(reference(target), member)(*values)
    combos = dict(model.sample(target)).get(values[0]) if target else set()
    if combos is not None:
        idx = values[-1] if member in ("is_input_support", "input_support_types") else 0
        known = {
            "is_input_support": lambda: values[1] in model.input_support_types(combos, idx),
            "is_output_support": lambda: values[1] in model.output_support_types(combos),
            "input_support_types": lambda: model.input_support_types(combos, idx),
            "output_support_types": lambda: model.output_support_types(combos),
            "support_types": lambda: model.support_types(combos, values[1]),
        }[member]()
        if known != answer:
            violation("answer", f"{target}.{member}{tuple(values)} is {answer!r}, not {known!r}")
    return answer


def reference(target):
    target = target if target in model.ALL_TARGETS else ""
    if target not in REFERENCE:
        REFERENCE[target] = OT(target)
    return REFERENCE[target]


def fingerprint(catalogue):
    return [sorted(OT.output_support_types(catalogue, op)) for op in ("Conv", "Softmax", "Abs")]


# --- signatures, as bound ---------------------------------------------------------

MISSING = object()
TEXT = (None, "text", MISSING)
# entry: (whether `self` and the parameters are named, overloads: the
# parameters after `self` as (name, conversion, default))
SIGNATURES = {
    "OT.__init__": (False, [[TEXT]]),
    "OT.is_input_support": (
        True,
        [[("kind", "text", MISSING), ("qtype", "text", MISSING), ("idx", "int32", 0)]],
    ),
    "OT.is_output_support": (False, [[TEXT, TEXT]]),
    "OT.input_support_types": (True, [[("kind", "text", MISSING), ("idx", "int32", 0)]]),
    "OT.output_support_types": (False, [[TEXT]]),
    "OT.support_types": (False, [[TEXT, TEXT]]),
    "QA.__init__": (False, [[], [(None, "int64", MISSING)]]),
    "CA.__init__": (False, [[], [(None, "codes", MISSING)]]),
}
# Plain arguments of the calls that hooks and probes make, and what they build.
PLAIN = {
    "OT.__init__": ("corvel",),
    "QA.__init__": (3,),
    "CA.__init__": ([8],),
    "OT.is_input_support": ("Conv", "int16"),
    "OT.is_output_support": ("Softmax", "float32"),
    "OT.input_support_types": ("Add", 1),
    "OT.output_support_types": ("ReduceMean",),
    "OT.support_types": ("Conv", "int8-x-?"),
}
BUILT = {"OT": "corvel", "QA": 3, "CA": [8]}
PROBE = {"OT": "OT.output_support_types", "QA": "QA.get_value", "CA": "CA.get_value"}


def bind(named, params, positional, keywords):
    """The arguments of `self` and of `params`, matched as pybind11 matches
    them (a keyword by its text alone), or None when the call does not fit."""
    names = ["self" if named else None] + [p[0] for p in params]
    defaults = [MISSING] + [p[2] for p in params]
    if len(positional) > len(names):
        return None
    values = list(positional) + [MISSING] * (len(names) - len(positional))
    for text, value in keywords:
        if text is None or text not in names or values[names.index(text)] is not MISSING:
            return None
        values[names.index(text)] = value
    for i, value in enumerate(values):
        if value is MISSING:
            if defaults[i] is MISSING:
                return None
            values[i] = Arg(functools.partial(plain_state, defaults[i]))
    return values


# --- what converting an argument may end in ---------------------------------------


class State:
    """The values an argument may convert to; the exceptions it may raise to
    the caller (objects, or the tag of the code that raises them); and
    whether it may refuse the call (TypeError), run out of memory at once,
    or end in the IndexError of a sequence that shrank while it was read."""

    def __init__(self, answers=(), errors=(), refuse=False, memory=False, index=False, long=False):
        self.answers, self.errors = list(answers), list(errors)
        self.refuse, self.memory, self.index, self.long = refuse, memory, index, long


def refuse():
    return State(refuse=True)


class Arg:
    """An argument as the driver keeps it: never the object, only how it
    converts, judged once the call is over."""

    def __init__(self, state):
        self.state = state


def plain_state(obj, conv):
    """How an object converts whose conversion runs none of its code."""
    if conv == "text":
        if isinstance(obj, str):
            try:
                return State([str.__str__(obj).encode().decode()])
            except UnicodeEncodeError:
                return refuse()  # lone surrogates
        if isinstance(obj, (bytes, bytearray)):
            return State([bytes(obj).decode("utf-8", "surrogateescape")])
        return refuse()
    if conv in RANGES:
        integral = isinstance(obj, int) or (isinstance(obj, decimal.Decimal) and obj == int(obj))
        low, high = RANGES[conv]
        return State([int(str(int(obj)))]) if integral and low <= obj <= high else refuse()
    if conv == "codes" and isinstance(obj, range):
        return State([list(obj)])
    if conv == "codes" and isinstance(obj, (list, tuple, collections.deque, bytearray)):
        return read_state([functools.partial(plain_state, item) for item in obj], False)
    return refuse()


def read_state(items, shrank):
    """Reading `items` (their conversions) in order as list() does; when the
    container was emptied meanwhile, what was read is some prefix."""
    state, prefix = State(index=shrank), []
    for convert in items:
        if shrank:
            state.answers.append(list(prefix))
        item = convert("int64")
        state.errors += item.errors
        if not item.answers:
            state.refuse = item.refuse
            return state  # reading stops at an item that does not convert
        prefix.append(item.answers[0])
    state.answers.append(prefix)
    return state


class Custom(Exception):
    """An exception of the caller's own."""


EXCEPTIONS = {
    e.__name__: e for e in (Custom, TypeError, ValueError, IndexError, MemoryError, RecursionError)
}
EXCEPTIONS.update(KeyboardInterrupt=KeyboardInterrupt, SystemExit=SystemExit)


def tag_of(error):
    args = getattr(error, "args", ())
    return args[1] if len(args) == 2 and args[0] == "hostile" else None


def passes_through(error):
    """Whether an integer argument's own exception reaches the caller, rather
    than meaning "does not convert"."""
    return not isinstance(error, Exception) or isinstance(error, (MemoryError, RecursionError))


# --- the world of one run ------------------------------------------------------------


class Model:
    """What an object was built as (None: not built), and its state: a
    target, a flag word or a list of codes."""

    def __init__(self, kind, state=None):
        self.kind, self.state, self.diverged = kind, state, False


class World:
    def __init__(self):
        self.models = {}  # id of a live object: its Model
        self.classes, self.roster, self.weaks = {}, [], []
        self.kept = []  # objects and classes that finalizers brought back
        self.diverged = weakref.WeakSet()  # classes changed against the layout rules


WORLD = World()
CALLS = []  # the calls in progress, innermost last
GC_PLAN = []  # (n, action): the n-th collection during a call does the action
UNRAISABLE = []
VIOLATIONS = []
EXTRA = {}  # class name: the bound class that a W metaclass's mro() adds
METAS = {}


def violation(category, text, detail=""):
    """Records a broken rule: its category, a detail that tells one fault of
    the category from another (the exception or the entry), and the story."""
    if len(VIOLATIONS) < 20 and [category, detail, text] not in VIOLATIONS:
        VIOLATIONS.append([category, detail, text])


def model_of(obj):
    return WORLD.models.get(id(obj))


def register(obj, kind, state=None):
    WORLD.models[id(obj)] = Model(kind, state)


def layout(cls):
    """The bound classes in a class's method resolution order: one, for a
    class the rules allow."""
    return frozenset(c for c in cls.__mro__ if c in KIND_OF)


def class_diverged(cls):
    return any(c in WORLD.diverged for c in cls.__mro__)


def diverged(obj):
    m = model_of(obj)
    return (m is not None and m.diverged) or class_diverged(type(obj))


class Fin:
    """Base of the campaign's subclasses: runs, when an instance is
    finalised, what the campaign gave it to do."""

    def __del__(self):
        perform(self.__dict__.get("on_del", ()), self, "finalizer")


def metaclass(base, kind):
    """R: a metaclass whose __del__ brings its class back to life. W: one
    whose mro() puts second the bound class that EXTRA names for the class."""
    if (base, kind) not in METAS:
        if kind == "R":

            def __del__(cls):
                WORLD.kept.append(cls)

            namespace = {"__del__": __del__}
        else:

            def mro(cls):
                order = base.mro(cls)
                extra = BOUND.get(EXTRA.get(cls.__name__))
                if extra is None:
                    return order
                return [order[0], extra, *(c for c in order[1:] if c is not extra)]

            namespace = {"mro": mro}
        METAS[base, kind] = type(f"{kind}Meta", (base,), namespace)
    return METAS[base, kind]


SUBCLASSES = [("A1", QA, None), ("A2", QA, None), ("C1", CA, None), ("O1", OT, None)]
SUBCLASSES += [("R1", QA, "R"), ("W1", QA, "W")]
ROSTER = [
    ("OT", ("corvel",), "OT", "corvel"),
    ("QA", (), "QA", 0x1111),
    ("CA", ([1, 2],), "CA", [1, 2]),
    ("A1", (5,), "QA", 5),
    ("A2", (7,), "QA", 7),
    ("C1", ([4],), "CA", [4]),
    ("O1", ("m55",), "OT", "m55"),
    ("R1", (9,), "QA", 9),
    ("W1", (3,), "QA", 3),
]


def new_world():
    global WORLD
    EXTRA.clear()
    WORLD = World()
    classes = WORLD.classes
    classes.update(BOUND, M=type("M", (Fin,), {}))
    for name, base, meta in SUBCLASSES:
        classes[name] = (metaclass(type(base), meta) if meta else type)(name, (base, Fin), {})
    for name, args, kind, state in ROSTER:
        obj = classes[name](*args)
        register(obj, kind, state)
        WORLD.roster.append(obj)
    bare = classes["A1"].__new__(classes["A1"])
    register(bare, None)
    WORLD.roster.append(bare)


def subject(index):
    live = WORLD.roster
    return live[index % len(live)] if live else None


# --- hostile objects ---------------------------------------------------------------------


class Record:
    """What a hook did during its call: whether it ran, what it raised first."""

    ran, raised = False, None


class Hook:
    """Code of the caller's that runs while a call converts an argument: the
    `actions`, then raising the exception that `outcome` names, if any. Inert
    outside the call it was made for. `fin` runs when it is freed: from
    __del__, or from a weak reference's callback."""

    def __init__(self, call, recipe, tag="argument"):
        actions, outcome, fin = (*recipe, None, None, None)[:3]
        self.call, self.actions, self.outcome, self.tag = call, actions or (), outcome, tag
        self.record, self.fin = Record(), fin
        if fin and fin[0] == "weak":
            WORLD.weaks.append(weakref.ref(self, functools.partial(run_fin, fin[1])))

    def fire(self):
        if not self.call.armed:
            return
        first, self.record.ran = not self.record.ran, True
        if self.tag != "keyword":
            self.call.hook_ran = True
        perform(self.actions, self, self.tag)
        if self.outcome in EXCEPTIONS:
            error = EXCEPTIONS[self.outcome]("hostile", self.tag)
            if first:
                self.record.raised = error
            raise error

    def __del__(self):
        if self.fin and self.fin[0] == "del":
            perform(self.fin[1], self, "finalizer")


def run_fin(actions, _reference):
    perform(actions, None, "weakref")


class Index(Hook):
    def __init__(self, call, value, recipe):
        super().__init__(call, recipe)
        self.value = value

    def __index__(self):
        self.fire()
        return self.value


class Number(Hook):
    """A number with no __index__, as Decimal: converts by int() and a
    comparison with that."""

    def __init__(self, call, value, recipe):
        super().__init__(call, recipe)
        self.value = value

    def __int__(self):
        self.fire()
        return self.value

    def __float__(self):
        return float(self.value)

    def __eq__(self, other):
        return self.value == other

    __hash__ = None


class Sequence(Hook):
    """A sequence of __len__ and __getitem__ alone that claims `claimed`
    items; its hook runs at `at`, "len" or an index."""

    def __init__(self, call, claimed, items, recipe, at):
        super().__init__(call, recipe, "sequence")
        self.claimed, self.items, self.at = claimed, items, at

    def __len__(self):
        if self.at == "len":
            self.fire()
        return self.claimed

    def __getitem__(self, i):
        if self.at == i:
            self.fire()
        if i >= len(self.items):
            raise IndexError("hostile", "end")
        return self.items[i]

    def clear(self):
        self.items = []


class Key(str):
    """A keyword name: a str with a text of its own that hashes as another
    text, and whose __eq__ runs code. Matching names runs none of it."""

    def __new__(cls, call, text, hash_as, recipe):
        key = super().__new__(cls, text)
        key.hook, key.hash_as = Hook(call, recipe, "keyword"), hash_as
        return key

    def __hash__(self):
        # CPython hashes the names when it builds a call's dict itself;
        # given the caller's own dict, nothing may.
        if self.hook.call.armed and self.hook.call.route in ("pycall", "thread"):
            self.hook.call.key_ran = True
        return hash(self.hash_as)

    def __eq__(self, other):
        if self.hook.call.armed:
            self.hook.call.key_ran = True
            self.hook.fire()
            if self.hook.outcome == "True":
                return True
        return str.__eq__(self, other)


# --- what hooks, finalizers and the collector do ---------------------------------------


def perform(actions, origin, tag):
    """Runs actions. What they raise is theirs and stops there."""
    for action in actions:
        name = action if isinstance(action, str) else action[0]
        try:
            ACTIONS.get(name, change)(action, origin)
        except Exception:
            pass  # a failed action is part of the attack


def current(origin):
    call = getattr(origin, "call", None)
    return call if call is not None else (CALLS[-1] if CALLS else None)


def clear(_action, origin):
    """Empties every container the call can reach: the caller's own dict,
    and the sequences being read. What they alone held is freed."""
    call = current(origin)
    if call is None or not call.armed:
        return
    for container in call.containers:
        if len(container.items if isinstance(container, Sequence) else container):
            container.clear()
            if container is not call.keywords:
                call.shrank = True
            elif not call.hook_ran:
                call.keywords_may_be_empty = True


def reenter(_action, origin):
    call = current(origin)
    if call is not None and call.armed and call.reentry is not None:
        call.reentry()


ACTIONS = {
    "clear": clear,
    "collect": lambda *_: gc.collect(),
    "keep": lambda _a, origin: origin is not None and WORLD.kept.append(origin),
    "probe": lambda *_: probe(),
    "reenter": reenter,
}


def on_collection(phase, _info):
    if phase != "start" or not CALLS or not CALLS[-1].armed:
        return
    call = CALLS[-1]
    if call.route == "thread" and _thread.get_ident() == MAIN_THREAD:
        return  # counted in the thread that makes the call, from its first allocation
    call.collections += 1
    perform([action for n, action in GC_PLAN if n == call.collections], None, "collector")


def attempt(what, run, must_fail=False, must_pass=False):
    """Makes a class change; True when it took effect. One that gives an
    object or class another bound class's layout must raise TypeError; one
    that keeps it must not."""
    change = what.split()[0]
    try:
        run()
    except TypeError as error:
        if must_pass:
            violation("layout", f"{what} keeps the layout, yet raised TypeError: {error}", change)
        return False
    except Exception as error:
        violation("exception", f"{what} raised {type(error).__name__}: {error}", change)
        return False
    if must_fail:
        violation("layout", f"{what} changes the layout, yet was allowed", change)
    return True


def change(op, _origin=None):
    """A change of classes or of what is alive: a step, or an action of
    code that runs during a call."""
    kind, classes, roster = op[0], WORLD.classes, WORLD.roster
    if kind == "move":
        obj, cls = subject(op[1]), classes.get(op[2])
        if obj is None or cls is None:
            return
        old = type(obj)
        same = layout(old) == layout(cls) and len(layout(cls)) == 1
        same = same and old not in KIND_OF and cls not in KIND_OF
        keep = same and not diverged(obj) and not class_diverged(cls)
        what = f"moving a {old.__name__} to {op[2]}"
        if attempt(what, lambda: setattr(obj, "__class__", cls), not same, keep) and not same:
            model_of(obj).diverged = True
    elif kind in ("rebase", "mro"):
        cls = classes.get(op[1])
        if cls is None or cls in KIND_OF:
            return
        if kind == "rebase":
            bases = tuple(classes[b] for b in op[2] if classes.get(b) not in (None, cls))
            new = frozenset().union(*(layout(b) for b in bases))
        else:
            EXTRA[op[1]] = op[2]
            bases = cls.__bases__
            new = layout(cls) | ({BOUND[op[2]]} if type(cls).__name__ == "WMeta" else set())
        fail = new != layout(cls) and not class_diverged(cls)
        what = f"{kind} of {op[1]} onto {op[2]}"
        if bases and attempt(what, lambda: setattr(cls, "__bases__", bases), fail) and fail:
            WORLD.diverged.add(cls)
    elif kind == "newclass":
        _, name, base_names, meta = op
        bases = tuple(dict.fromkeys(classes[b] for b in base_names if b in classes))
        if not bases or name in classes:
            return
        bound = frozenset().union(*(layout(b) for b in bases))
        maker = metaclass(type(min(bound, key=id)), meta) if meta and bound else type
        foreign = BOUND.get(EXTRA.get(name)) if meta == "W" else None
        fail = len(bound) > 1 or (foreign is not None and bound and foreign not in bound)
        made = []
        if attempt(f"class {name}{base_names}", lambda: made.append(maker(name, bases, {})), fail):
            classes[name] = made[0]
            if fail or class_diverged(made[0]):
                WORLD.diverged.add(made[0])
    elif kind == "adopt" and op[2] in BOUND and op[1] not in classes:
        # A class made for an instance of another subclass of the same
        # bound class, which is moved into it.
        change(("newclass", op[1], (op[2],), None))
        found = [i for i, o in enumerate(roster) if layout(type(o)) == {BOUND[op[2]]}]
        found = [i for i in found if type(roster[i]) not in KIND_OF]
        if found and op[1] in classes:
            change(("move", found[0], op[1]))
    elif kind == "drop" and roster:
        obj = roster.pop(op[1] % len(roster))
        if op[2] == "self" and hasattr(obj, "__dict__"):
            obj.me = obj
        elif op[2] == "class" and type(obj) not in KIND_OF:
            type(obj).keep = obj
        del obj
    elif kind == "dropclass" and classes.get(op[1]) not in (None, *KIND_OF):
        del classes[op[1]]
    elif kind == "kill" and classes.get(op[1]) not in (None, *KIND_OF):
        # The class and its instances die together, in one collection.
        cls = classes.pop(op[1])
        cls.keep = [obj for obj in roster if type(obj) is cls]
        roster[:] = [obj for obj in roster if type(obj) is not cls]
        del cls
        gc.collect()
    elif kind == "fin":
        obj = subject(op[1])
        if obj is not None and op[2] == "del" and hasattr(obj, "__dict__"):
            obj.on_del = tuple(op[3])
        elif obj is not None:
            WORLD.weaks.append(weakref.ref(obj, functools.partial(run_fin, tuple(op[3]))))
    elif kind == "bare" and op[1] in classes and layout(classes[op[1]]):
        cls = classes[op[1]]
        try:
            obj = cls.__new__(cls)
        except TypeError:
            if not class_diverged(cls):
                violation("exception", f"{op[1]}.__new__ raised TypeError")
            return
        register(obj, None)
        roster.append(obj)
    elif kind == "collect":
        gc.collect()
    # A change can reach the classes derived from the one it changes.
    for name, cls in list(classes.items()):
        if len(layout(cls)) > 1 and not class_diverged(cls):
            violation("layout", f"{name} derives from {len(layout(cls))} bound classes after {op}")
            WORLD.diverged.add(cls)


# --- arguments ----------------------------------------------------------------------------


def fresh(value):
    """An equal object that nothing else holds, so that emptying the call's
    containers frees it."""
    if isinstance(value, str) and len(value) > 1:
        return value[:1] + value[1:]
    if isinstance(value, bytes):
        return bytes(bytearray(value))
    if isinstance(value, int) and not isinstance(value, bool) and abs(value) > 256:
        return int(str(value))
    if isinstance(value, list):
        return [fresh(item) for item in value]
    return value


CONVERSIONS = ("self", "text", "int32", "int64", "codes")


def plain(obj):
    """The Arg of an object whose conversion runs none of its code, worked
    out before the call, so that the driver keeps no reference to it."""
    states = {conv: plain_state(obj, conv) for conv in CONVERSIONS}
    return Arg(states.__getitem__)


def build(recipe, call):
    """The object a value recipe names, and its Arg."""
    if not isinstance(recipe, tuple):
        obj = fresh(recipe)
        return obj, plain(obj)
    kind = recipe[0]
    if kind in ("index", "number"):
        hook = (Index if kind == "index" else Number)(call, recipe[1], recipe[2])
        return hook, Arg(functools.partial(hooked_state, hook.record, recipe[1]))
    if kind in ("decimal", "strsub", "bytearray"):
        maker = {"decimal": decimal.Decimal, "strsub": type("Text", (str,), {})}
        obj = maker.get(kind, lambda text: bytearray(text, "ascii"))(recipe[1])
        return obj, plain(obj)
    if kind in ("named", "object"):  # of a class whose name has recipe[1] characters
        obj = type("N" * recipe[1], (), {})() if kind == "named" else object()
        return obj, Arg(lambda conv: refuse())
    if kind in ("list", "tuple", "deque"):
        parts = [build(item, call) for item in recipe[1]]
        obj = {"list": list, "tuple": tuple, "deque": collections.deque}[kind](p for p, _ in parts)
        if kind != "tuple":
            call.containers.append(obj)
        items = [a.state for _, a in parts]
        del parts
        return obj, Arg(
            lambda conv: read_state(items, call.shrank) if conv == "codes" else refuse()
        )
    if kind == "range":
        n = recipe[1]
        obj = range(n)
        if n >= NEVER_HELD:
            return obj, Arg(lambda conv: State(memory=True) if conv == "codes" else refuse())
        if n >= LONG_READ:
            return obj, Arg(
                lambda conv: State(["long"], long=True) if conv == "codes" else refuse()
            )
        return obj, plain(obj)
    if kind == "seq":
        _, claimed, items, hook, at = recipe
        seq = Sequence(call, claimed, [fresh(i) for i in items], hook, at)
        call.containers.append(seq)
        return seq, Arg(functools.partial(sequence_state, seq.record, claimed, items, at, call))
    raise ValueError(f"no such value: {recipe!r}")


def hooked_state(record, value, conv):
    if conv not in RANGES:
        return refuse()  # its code never runs for a text or a list
    if not record.ran:
        return refuse()  # the call stopped before this argument
    if record.raised is not None:
        return State(errors=[record.raised]) if passes_through(record.raised) else refuse()
    return plain_state(value, conv)


def sequence_state(record, claimed, items, at, call, conv):
    """Reading a Sequence as list() does: its length first, so that one it
    can never hold is MemoryError at once; then its items until its
    IndexError. What its own code raises reaches the caller."""
    if conv != "codes":
        return refuse()
    if at == "len" and record.raised is not None:
        return State(errors=[record.raised])
    if claimed >= NEVER_HELD:
        return State(memory=True)
    end = at if isinstance(at, int) and isinstance(record.raised, IndexError) else len(items)
    state = read_state([functools.partial(plain_state, i) for i in items[:end]], call.shrank)
    if claimed < end and not call.shrank:  # read only as far as it claims
        state.answers.append(state.answers[-1][:claimed] if state.answers else [])
    state.errors += [record.raised, "end"]  # its own IndexError is allowed too
    return state


def key_of(recipe, call):
    """A keyword name for a key recipe, and the text it is matched by (None
    for a name that is no str)."""
    if isinstance(recipe, str):
        return fresh(recipe), recipe
    if recipe[0] == "key":
        _, text, hash_as, hook = recipe
        return Key(call, text, hash_as, hook), text
    return recipe[1], None


# --- calls -----------------------------------------------------------------------------------


class Call:
    def __init__(self, entry, route):
        self.entry, self.route = entry, route
        self.armed = self.hook_ran = self.key_ran = self.shrank = False
        self.keywords_may_be_empty = False
        self.containers, self.keywords, self.reentry = [], None, None
        self.collections = 0
        self.due = self.heard = 0.0  # when a timer's signal was due, and heard


class Direct:
    """A subject given as the object itself, by a nested call."""

    def __init__(self, obj):
        self.obj = obj


def owner_of(cls, name):
    for c in cls.__mro__:
        if name in vars(c):
            return KIND_OF.get(c)
    return None


def method_self(obj, kind):
    """How `obj` converts as `self` of a method of the bound class `kind`:
    only an object built as that class does; one whose class a change
    against the layout rules reached, during the call too, may refuse."""
    m, cls, alive = model_of(obj), type(obj), weakref.ref(obj)
    if m is None or m.kind != kind:
        return lambda: refuse()
    moved = lambda: alive() is not None and class_diverged(type(alive()))  # noqa: E731
    return lambda: State([True], refuse=m.diverged or class_diverged(cls) or moved())


def init_self(obj, kind):
    """How `obj` converts as `self` of __init__: only one not yet built, of
    a class with that bound class's layout. Evaluated after the call, since
    code run by the call may have built it meanwhile."""
    m = model_of(obj)
    if m is not None and m.kind is not None:
        return refuse()
    if diverged(obj):
        return State([True], refuse=True)
    return State([True]) if layout(type(obj)) == {BOUND[kind]} else refuse()


def resolve(who, kind, member, route, call):
    """The object a call is made on (or builds), the class it instantiates,
    and the route and entry the call really takes."""
    constructing, obj, cls = member == "__init__", None, None
    target = who.obj if isinstance(who, Direct) else None
    if constructing and (isinstance(who, str) or isinstance(target, type)):
        cls = target or WORLD.classes.get(who)
        if cls is None or not layout(cls):
            return None
        if route != "attr":
            try:
                obj = cls.__new__(cls)
            except TypeError:
                if not class_diverged(cls):
                    violation("exception", f"{cls.__name__}.__new__ raised TypeError")
                return None
            register(obj, None)
    elif target is not None:
        obj = target
    elif who == "fresh":
        obj = BOUND[kind](*PLAIN[f"{kind}.__init__"])
        register(obj, kind, BUILT[kind])
    else:
        obj = subject(who)
        if obj is None:
            return None
    if route == "attr" and (cls is not None or not constructing):
        kind = owner_of(cls if constructing else type(obj), member)
        if kind is None:
            return None
    elif route == "attr" or (route == "thread" and (constructing or member in MUTATING)):
        route = "class"
    call.entry, call.route = f"{kind}.{member}", route
    return obj, cls, kind, route


def checked_call(step):
    """Makes the call that a step describes, and judges how it ended."""
    _, who, entry, route, args = step[:5]
    options = step[5] if len(step) > 5 else ()
    # Interned, as the type attribute cache keeps the names it is asked for.
    kind, member = map(sys.intern, entry.split("."))
    constructing = member == "__init__"
    call = Call(entry, route)
    resolved = resolve(who, kind, member, route, call)
    if resolved is None:
        return
    obj, cls, kind, route = resolved
    if route == "thread":
        options = ()  # signals reach the main thread alone

    # `self`: the object the class makes, the object __init__ is given, or
    # the object a method or property is called on.
    if constructing and cls is not None and route == "attr":
        made = (
            State([True], refuse=class_diverged(cls)) if layout(cls) == {BOUND[kind]} else refuse()
        )
        self_arg = Arg(lambda conv: made if conv == "self" else refuse())
    elif constructing:
        self_arg = Arg(lambda conv, o=obj, k=kind: init_self(o, k) if conv == "self" else refuse())
    else:
        state = method_self(obj, kind)
        self_arg = Arg(lambda conv, s=state: s() if conv == "self" else refuse())

    # The arguments, held by the call's own tuple, dict and sequences alone.
    values, positional, keywords, keyword_dict, hashes = [], [], [], {}, set()
    for key, recipe in args:
        value, arg = (obj, self_arg) if recipe == ("self",) else build(recipe, call)
        if key is None:
            values.append(value)
            positional.append(arg)
        else:
            name, text = key_of(key, call)
            if getattr(name, "hash_as", name) in hashes:
                return  # names that compare when CPython builds its dict
            hashes.add(getattr(name, "hash_as", name))
            keyword_dict[name] = value
            keywords.append((text, arg))
        del value
    # A bound method and a class pass their object first; a function of the
    # class is given it first unless a step placed it.
    if route == "attr" or all(recipe != ("self",) for _, recipe in args):
        positional.insert(0, self_arg)
        if route != "attr":
            values.insert(0, obj)
    own_dict = route in ("pycall", "thread")
    if not own_dict and any(not isinstance(name, str) for name in keyword_dict):
        return  # CPython refuses names that are no str before any call
    if own_dict:
        call.keywords = keyword_dict
        call.containers.insert(0, keyword_dict)
    function = callee(kind, member, route, obj, cls)
    arguments = tuple(values)
    del values
    if obj is not None and who != "fresh" and (constructing or member not in MUTATING):
        call.reentry = functools.partial(nested, obj, call.entry)
    was = model_of(obj).state if model_of(obj) is not None else None
    if who == "fresh":
        obj = None  # the call's containers hold it alone

    CALLS.append(call)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    answered, outcome = invoke(call, function, arguments, keyword_dict, options)
    grew = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) << 10
    CALLS.pop()
    del function, arguments, keyword_dict
    call.containers, call.reentry = [], None

    # Judged for the call as made and, when the caller's dict was emptied
    # before any argument's code ran, as the binding may have found it.
    if call.key_ran:
        violation("keyword", f"{call.entry} by {route}: a keyword name's own code ran")
    shapes = [(positional, keywords)] + [(positional, [])] * call.keywords_may_be_empty
    broken = None
    for shape in shapes:
        try:
            expected = judge(call, shape, answered, outcome, options, was, grew)
            break
        except Broken as error:
            broken = broken or error
    else:
        violation(*broken.args)
        return
    if answered and route != "thread":
        made = outcome if constructing and cls is not None and route == "attr" else obj
        settle(kind, member, made, expected, constructing)
    if not answered and type(outcome) is TypeError and "incompatible" in str(outcome):
        shown = len(positional) + len(keywords)
        limit = 2000 + 40000 * shown + 12 * sum(len(t or "") for t, _ in keywords)
        if len(str(outcome)) > limit:
            violation(
                "message",
                f"{call.entry}: a mismatch message of {len(str(outcome))} "
                f"characters for {shown} arguments",
            )


def callee(kind, member, route, obj, cls):
    """The callable of a route: the class, a bound method or attribute, or
    the function as the bound class holds it."""
    bound = BOUND[kind]
    if member == "__init__":
        return cls if route == "attr" and cls is not None else bound.__init__
    found = vars(bound)[member]
    if route == "attr":
        return (
            (lambda: getattr(obj, member)) if isinstance(found, property) else getattr(obj, member)
        )
    return found.fget if isinstance(found, property) else getattr(bound, member)


def nested(obj, entry):
    """A plain call on the object of the call in progress, from its hook."""
    args = [(None, a) for a in PLAIN.get(entry, ())]
    checked_call(
        ("call", Direct(obj), entry, "class" if entry.endswith("__init__") else "attr", args)
    )


def probe():
    """Plain calls on every object the roster holds, from code that runs in
    the middle of something else (a finalizer, a weak reference's
    callback): each answers as its model says."""
    for obj in list(WORLD.roster):
        m = model_of(obj)
        if m is not None and m.kind is not None:
            nested(obj, PROBE[m.kind])


HELD = []  # objects taken from the free lists, released after each run


def drain():
    """Empties the interpreter's free lists of small tuples, lists and
    dicts, so that the call's own allocations of them are made by the
    collector's allocator and start collections. A new object from the
    collector's allocator is the sign that a free list is empty."""
    gc.disable()
    for make in [functools.partial(tuple, range(n)) for n in range(1, 9)] + [list, dict]:
        count = gc.get_count()[0]
        while gc.get_count()[0] == count:
            HELD.append(make())
    gc.enable()


def invoke(call, function, arguments, keywords, options):
    """Calls `function` by the call's route, armed; returns (answered, the
    result or the exception)."""
    timer = "timer" in options
    if timer:
        TIMED[:] = [call]
    drain()
    call.armed = True
    if "odd" in options:  # one more tracked object: collections fall on the other allocations
        spare = []  # noqa: F841
    try:
        if timer:
            call.due = time.monotonic() + 0.001
            signal.setitimer(signal.ITIMER_REAL, 0.001)
        if call.route in ("attr", "class"):
            result = function(*arguments, **keywords)
        elif call.route == "partial":
            result = functools.partial(function, *arguments, **keywords)()
        elif call.route == "pycall":
            result = PYOBJECT_CALL(function, arguments, keywords)
        else:
            result = in_thread(function, arguments, keywords)
        answered = True
    except BaseException as error:  # every exception is judged
        result, answered = error, False
    finally:
        call.armed = False
        if timer:
            signal.setitimer(signal.ITIMER_REAL, 0)
            TIMED[:] = []
    return answered, result


TIMED = []  # the call that a timer may interrupt
MAIN_THREAD = _thread.get_ident()


def on_alarm(_signum, _frame):
    """Ends the timed call, if it hears the signal in time: a reader that
    never checks for signals runs on to its end, and hears it there."""
    if TIMED and TIMED[0].armed:
        TIMED[0].heard = time.monotonic()
        if TIMED[0].heard - TIMED[0].due <= LATE:
            raise KeyboardInterrupt("hostile", "signal")


THREAD_ANSWERED = object()


def in_thread(function, arguments, keywords):
    """Makes the call from a new thread that is given the caller's own tuple
    and dict; raises what it raised there."""
    before, seen = sys.getrefcount(arguments), len(UNRAISABLE)
    _thread.start_new_thread(function, arguments, keywords)
    deadline = time.monotonic() + 30
    while sys.getrefcount(arguments) > before and time.monotonic() < deadline:
        time.sleep(0.0002)  # the thread holds the tuple until it ends
    for i, (message, error) in enumerate(UNRAISABLE[seen:], seen):
        if "thread started by" in message:
            del UNRAISABLE[i]
            raise error
    return THREAD_ANSWERED


# --- judging ------------------------------------------------------------------------------------


class Broken(Exception):
    """A rule a call broke: its category and what happened."""


def judge(call, shape, answered, outcome, options, was, grew):
    """The answers a call could give, by the rules, when it ended as they
    allow; else raises Broken. `shape` is the call's positional and keyword
    Args, and `was` the state of the object called."""
    kind, member = map(sys.intern, call.entry.split("."))
    # A fault is told apart by whose code raised, else by what was raised.
    what, name = f"{call.entry} by {call.route}", tag_of(outcome) or type(outcome).__name__
    named, overloads = SIGNATURES.get(call.entry, (False, [[]]))
    fits = [(p, bind(named, p, *shape)) for p in overloads]
    fits = [(p, values) for p, values in fits if values is not None]
    tag = None if answered else tag_of(outcome)
    if tag == "signal" and "timer" in options:
        return None  # heard in time (see on_alarm)
    if not fits:
        if answered:
            raise Broken("answer", f"{what} fits no overload, yet answered {show(outcome)}", kind)
        if type(outcome) is not TypeError or tag is not None:
            raise Broken("exception", f"{what} fits no overload, yet raised {show(outcome)}", name)
        return None
    params, values = fits[0]
    convs = ["self"] + [p[1] for p in params]
    states = [arg.state(conv) for arg, conv in zip(values, convs, strict=True)]
    expected = [[]]
    for state in states[1:]:
        expected = [[*e, a] for e in expected for a in state.answers]
    long_read = "timer" in options and any(s.long for s in states)
    if answered:
        if long_read:
            heard = f"heard {call.heard - call.due:.1f} s late" if call.heard else "never heard"
            raise Broken("read", f"{what} read {LONG_READ} items, its signal {heard}", "signal")
        if not all(s.answers for s in states):
            raise Broken(
                "answer", f"{what} answered {show(outcome)}, yet an argument refuses", kind
            )
        if outcome is not THREAD_ANSWERED and member != "__init__":
            answers = [answer_of(kind, member, was, e) for e in expected]
            if not any(type(outcome) is type(a) and outcome == a for a in answers):
                raise Broken("answer", f"{what} answered {outcome!r}, not {answers[0]!r}", kind)
        return expected
    if long_read and not any(s.refuse for s in states):
        raise Broken("read", f"{what} ended in {show(outcome)}, not in its signal", "signal")
    errors = [e for s in states for e in s.errors]
    untagged = tag is None and type(outcome)
    if not (
        (tag in ("argument", "sequence") and any(e is outcome for e in errors))
        or (tag == "end" and "end" in errors)
        or (untagged is TypeError and any(s.refuse for s in states))
        or (untagged is MemoryError and any(s.memory for s in states))
        or (untagged is IndexError and any(s.index for s in states))
    ):
        allowed = allowed_text(states, options)
        raise Broken(
            "exception", f"{what} raised {show(outcome)} where the rules allow {allowed}", name
        )
    if untagged is MemoryError and grew > 32 << 20:
        raise Broken(
            "read", f"{what} raised MemoryError after {grew >> 20} MiB, not at once", "size"
        )
    return None


def show(outcome):
    if isinstance(outcome, BaseException):
        return f"{type(outcome).__name__}: {str(outcome)[:300]}"
    return repr(outcome)[:200]


def allowed_text(states, options):
    parts = [
        tag_of(e) or type(e).__name__ for s in states for e in s.errors if not isinstance(e, str)
    ]
    parts += ["TypeError"] if any(s.refuse for s in states) else []
    parts += ["MemoryError"] if any(s.memory for s in states) else []
    parts += ["an answer"] if all(s.answers for s in states) else []
    parts += ["its signal"] if "timer" in options else []
    return ", ".join(parts) or "nothing"


def answer_of(kind, member, state, values):
    if kind == "OT":
        return query_answer(state, member, values)
    return property_answer(kind, state, member)[0]


def settle(kind, member, obj, expected, constructing):
    """After a call answered: the object's state moves on as the rules say;
    a built object is checked against what its arguments gave."""
    if obj is None:
        return
    m = model_of(obj)
    if not constructing:
        if member in MUTATING and m is not None:
            m.state = property_answer(kind, m.state, member)[1]
        return
    candidates = [e[0] if e else {"OT": None, "QA": 0x1111, "CA": []}[kind] for e in expected]
    if "long" in candidates:
        return  # too big to keep; the read was judged already
    try:
        state = fingerprint(obj) if kind == "OT" else BOUND[kind].get_value.fget(obj)
    except TypeError as error:
        if not diverged(obj):
            violation("exception", f"a {kind} just built refuses get_value: {error}")
        return
    if kind == "OT":
        found = [c for c in candidates if c is not None and fingerprint(reference(c)) == state]
    else:
        found = [c for c in candidates if c == state]
    if not found:
        violation("answer", f"a {kind} built from {candidates[:3]!r} holds {str(state)[:200]}")
        return
    register(obj, kind, found[0])
    model_of(obj).diverged = m is not None and m.diverged
    if obj not in WORLD.roster:
        WORLD.roster.append(obj)


# --- a run, and the child's report --------------------------------------------------------


def run(campaign):
    global WORLD
    GC_PLAN[:] = [tuple(p) for p in campaign.get("gc", ())]
    new_world()
    for step in campaign["steps"]:
        if step[0] == "call":
            checked_call(step)
        else:
            change(step)
    # Whatever finalizers brought back answers as before, or refuses.
    gc.collect()
    for thing in list(WORLD.kept):
        if isinstance(thing, type):
            owner = owner_of(thing, "__init__")
            if owner is not None:
                WORLD.diverged.add(thing)
                checked_call(
                    (
                        "call",
                        Direct(thing),
                        f"{owner}.__init__",
                        "attr",
                        [(None, a) for a in PLAIN[f"{owner}.__init__"]],
                    )
                )
        elif model_of(thing) is not None:
            model_of(thing).diverged = True
            WORLD.roster.append(thing)
    probe()
    WORLD.roster.clear()
    WORLD.classes.clear()
    WORLD.weaks.clear()
    for _ in range(3):
        WORLD.kept.clear()
        gc.collect()
    WORLD = World()
    HELD.clear()


def main():
    campaign = ast.literal_eval(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    for target in ["", *model.ALL_TARGETS]:
        reference(target)
    sys.unraisablehook = lambda u: UNRAISABLE.append((u.err_msg or "", u.exc_value))
    signal.signal(signal.SIGALRM, on_alarm)
    if not SANITIZED:  # a read without end stops at 256 MiB
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (256 << 20), resource.RLIM_INFINITY))
    gc.callbacks.append(on_collection)
    gc.set_threshold(1)
    figures = []
    for _ in range(runs):
        run(campaign)
        del UNRAISABLE[:]
        gc.collect()
        figures.append((HEAP["heap_in_use"](), sys.getallocatedblocks()))
    gc.set_threshold(700)
    if SANITIZED:
        # LeakSanitizer, now rather than at exit: what nothing reaches while
        # the interpreter lives was lost by someone; what the interpreter
        # leaves at exit is its own. The heap figures are the sanitizer's.
        if ctypes.CDLL(None).__lsan_do_recoverable_leak_check():
            violation("leak", "LeakSanitizer found memory that nothing reaches (see stderr)")
        figures = [(0, 0)]
    report = {
        "violations": VIOLATIONS,
        "heap": figures[-1][0] - figures[0][0],
        "blocks": figures[-1][1] - figures[0][1],
    }
    print(json.dumps(report), flush=True)
    if SANITIZED:
        sys.stderr.flush()
        os._exit(0)


if __name__ == "__main__":
    main()
