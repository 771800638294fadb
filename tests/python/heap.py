"""Code for child interpreters: malloc's own count of the bytes in use.

The native side allocates from malloc, so `heap_in_use()` sees what the
modules keep, which `sys.getallocatedblocks()` (the interpreter's own
objects) does not.
"""

IN_USE = """
import ctypes
class _Mallinfo2(ctypes.Structure):
    _fields_ = [(f, ctypes.c_size_t) for f in ('arena', 'ordblks', 'smblks', 'hblks', 'hblkhd',
                                               'usmblks', 'fsmblks', 'uordblks', 'fordblks',
                                               'keepcost')]
_mallinfo2 = ctypes.CDLL(None).mallinfo2
_mallinfo2.restype = _Mallinfo2
def heap_in_use():
    info = _mallinfo2()
    return info.uordblks + info.hblkhd
"""
