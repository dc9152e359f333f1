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
    # The caller checks that the parser's complaint below reaches standard error.
    library.orba_set_use_orba_core_log(ctypes.c_int(1))
    send = first.contents.triggerEventCallback
    send(b'{"event":"SetEnable","body":{"enable":false}}')
    send(b'{"event":')

    encode = library.orba_base64_encode
    encode.restype = ctypes.c_void_p
    encode.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    release = library.orba_free
    release.argtypes = [ctypes.c_void_p]
    encoded = encode(b"game\0data", 9)
    text = ctypes.string_at(encoded)
    release(encoded)
    if text != b"Z2FtZQBkYXRh":
        print("ctypes consumer: base64 gave %r" % text, file=sys.stderr)
        return 1

    print("ctypes consumer: commands delivered")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
