"""A loopback FTP server whose data connections are throttled, for measuring
what a client's waits cost while data trickles in.

Usage: /usr/bin/python3 slowftpd.py ROOT USER PASSWORD PORTFILE BYTES_PER_SECOND
"""

import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, user, password, port_file, rate = sys.argv[1:6]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    dtp = ThrottledDTPHandler
    dtp.read_limit = int(rate)
    dtp.write_limit = int(rate)
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = dtp
    server = FTPServer(("127.0.0.1", 0), handler)
    temporary = port_file + ".tmp"
    with open(temporary, "w") as stream:
        stream.write("%d\n" % server.socket.getsockname()[1])
    os.replace(temporary, port_file)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
