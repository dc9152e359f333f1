"""Loads the installed library through ctypes, as a script-driven host or tool would.

Usage: ctypes_consumer.py LIBRARY
"""
import ctypes
import sys


class PluginInterface(ctypes.Structure):
    _fields_ = [("triggerEventCallback", ctypes.CFUNCTYPE(None, ctypes.c_char_p))]


def main(path):
    library = ctypes.CDLL(path)
    create = library.createOrbaPluginInterface
    create.restype = ctypes.POINTER(PluginInterface)
    create.argtypes = []
    first, second = create(), create()
    if not first or ctypes.addressof(first.contents) != ctypes.addressof(second.contents):
        print("ctypes consumer: no stable interface record", file=sys.stderr)
        return 1
    # A C++ function without standard-library types in its signature; the caller checks that
    # the parser's complaint below reaches standard error.
    library._ZN4ORBA4Core6Logger10LogSetting17setUseOrbaCoreLogEb(ctypes.c_bool(True))
    send = first.contents.triggerEventCallback
    send(b'{"event":"SetEnable","body":{"enable":false}}')
    send(b'{"event":')

    # C interface: its functions are called here once the library exports them.

    print("ctypes consumer: commands delivered")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
