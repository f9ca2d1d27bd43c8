# The far end of a serial line for the Windows device test: a pseudo-terminal
# that echoes every byte, and hangs up (closes its side) once it has seen "bye",
# as an adapter does when it is pulled out. Prints "device /dev/pts/N" first.
import os
import sys
import time
import tty

master, slave = os.openpty()
tty.setraw(slave)
print("device " + os.ttyname(slave), flush=True)
os.close(slave)  # the program under test opens it by name
seen = b""
while True:
    try:
        data = os.read(master, 256)
    except OSError:
        # No one has the slave open (yet, or between opens): wait for the next.
        time.sleep(0.05)
        continue
    os.write(master, data)
    seen = (seen + data)[-16:]
    if b"bye" in seen:
        os.close(master)
        print("hung up", flush=True)
        sys.exit(0)
