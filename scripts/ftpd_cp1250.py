"""pyftpdlib serving FOLDER on 127.0.0.1:PORT (0: a free port) to one user,
reading commands as Windows-1250, the program's code page on the wire, so a
Czech password or file name arrives as typed. Prints "port N" once it
listens. Used by the demo and the Windows whole-run test.

Usage: ftpd_cp1250.py PORT FOLDER USER PASSWORD
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Handler(FTPHandler):
    def decode(self, raw):
        return raw.decode("cp1250", self.unicode_errors)


port, folder, user, password = sys.argv[1:5]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, folder, perm="elradfmwMT")
Handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", int(port)), Handler)
print("port", server.address[1], flush=True)
server.serve_forever()
