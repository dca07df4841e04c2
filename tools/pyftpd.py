"""A loopback FTP server for Taviro's end-to-end tests and demo.

Usage: /usr/bin/python3 tools/pyftpd.py ROOT USER PASSWORD PORTFILE LOGFILE [PORT]

Serves ROOT (read and write) to USER on 127.0.0.1. With no PORT, or PORT 0,
it binds a port the system picks and writes that number to PORTFILE once it
is listening, so the caller never races another program for a port.
"""

import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) not in (6, 7):
        sys.stderr.write(__doc__)
        return 2
    root, user, password, port_file, log_file = sys.argv[1:6]
    port = int(sys.argv[6]) if len(sys.argv) == 7 else 0

    logging.basicConfig(filename=log_file, level=logging.INFO,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    # Every permission: list, retrieve, store, append, delete, rename,
    # make directories, change mode and modification time.
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Taviro test server ready."
    # Passive ports are left to the system (port 0), so they are always free.
    handler.passive_ports = None
    # A refused login answers after one second, as vsftpd does by default.
    handler.auth_failed_timeout = 1

    server = FTPServer(("127.0.0.1", port), handler)
    bound = server.socket.getsockname()[1]

    # Write, then rename: a reader never sees half a number.
    temporary = port_file + ".tmp"
    with open(temporary, "w") as stream:
        stream.write("%d\n" % bound)
    os.replace(temporary, port_file)

    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
