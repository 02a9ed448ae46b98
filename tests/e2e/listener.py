# A printer on a loopback socket: accepts connections on 127.0.0.1 and saves
# each one's bytes as conn-N.bin in the folder given (written as .part and
# renamed once the peer has closed, so a complete file is a complete job).
# Each connection is read by its own thread, so that several queues can print
# at once without one backend waiting for another's job to end.
# The chosen port is written to the port file given as the second argument.
import os
import socket
import sys
import threading

out, portfile = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0))
s.listen(16)
with open(portfile + ".tmp", "w") as f:
    f.write(str(s.getsockname()[1]))
os.rename(portfile + ".tmp", portfile)


def save(c, path):
    with open(path + ".part", "wb") as f:
        while True:
            try:
                d = c.recv(1 << 20)
            except OSError:
                break
            if not d:
                break
            f.write(d)
    c.close()
    os.rename(path + ".part", path)


n = 0
while True:
    c, _ = s.accept()
    n += 1
    threading.Thread(target=save, args=(c, os.path.join(out, "conn-%d.bin" % n)), daemon=True).start()
