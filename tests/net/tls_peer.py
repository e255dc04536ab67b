#!/usr/bin/python3
"""TLS servers on 127.0.0.1 for the TLS stream tests, run by Linux's Python
(the Windows tests under Wine start it too: Wine's programs share Linux's
loopback).

    tls_peer.py CONTROL_PORT

Connects to the test at 127.0.0.1:CONTROL_PORT, makes two throwaway
self-signed certificates (both CN=localhost: "a" and "b", so that a test
can trust one and not the other) with openssl and announces them:
    READY <fingerprint a> <PEM path a> <DER a in hex> <the same of b>
Then, per command line of the test:
    SERVE <mode> <1.2|1.3|any> <a|b>  ->  PORT <port>   (one connection)
    WAIT                        ->  DONE key=value ...  (of the last SERVE)
It ends, removing its folder, when the test closes the control connection.

Modes: echo (returns what it reads), sink (reads to the end, then answers
close_notify; slowsink after a pause of 0.5 s; both report the bytes read
and their CRC-32), notify / fin / reset (send "hello\\n", wait for one byte,
then end with close_notify / a bare TCP end / a reset), twolines (two lines
in one record, then as notify), hsreset / hsclose (read the ClientHello,
then reset / close), silent (accept and never answer).
"""
import hashlib
import os
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import zlib

LIMIT = 20  # seconds any wait of a connection may take


def make_certificate(folder, name):
    cert, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    # An EC key: made at once, where an RSA key takes a noticeable moment.
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                    "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(cert) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    digest = hashlib.sha256(der).hexdigest().upper()
    return cert, key, ":".join(digest[i:i + 2] for i in range(0, 64, 2)), der.hex()


def contexts(cert, key):
    made = {}
    for version, top in (("1.2", ssl.TLSVersion.TLSv1_2), ("1.3", ssl.TLSVersion.TLSv1_3),
                      ("any", ssl.TLSVersion.MAXIMUM_SUPPORTED)):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.minimum_version = ssl.TLSVersion.TLSv1_2
        ctx.maximum_version = top
        # Debian's Python takes a bare TCP end for close_notify unless told.
        ctx.options &= ~getattr(ssl, "OP_IGNORE_UNEXPECTED_EOF", 0)
        ctx.load_cert_chain(cert, key)
        made[version] = ctx
    return made


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def send_notify(conn):
    # One close_notify without waiting for the client's.
    conn.setblocking(False)
    try:
        conn.unwrap()
    except (ssl.SSLWantReadError, ssl.SSLWantWriteError, OSError):
        pass
    conn.close()


def read_to_end(conn, report, echo):
    total = 0
    crc = 0
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                report["end"] = "notify"
                break
            total += len(data)
            crc = zlib.crc32(data, crc)
            if echo:
                conn.sendall(data)
    except ConnectionResetError:
        report["end"] = "reset"
    except ssl.SSLError as e:
        eof = isinstance(e, ssl.SSLEOFError) or e.reason == "UNEXPECTED_EOF_WHILE_READING"
        report["end"] = "eof" if eof else "error:" + str(e.reason)
    except OSError as e:
        report["end"] = "error:" + type(e).__name__
    report["bytes"] = str(total)
    report["crc32"] = "%08x" % crc


def serve_one(listener, mode, ctx, report, stop):
    listener.settimeout(LIMIT)
    try:
        raw, _ = listener.accept()
    except OSError:
        report["state"] = "no-connection"
        return
    finally:
        listener.close()
    raw.settimeout(LIMIT)
    if mode in ("hsreset", "hsclose", "silent"):
        if mode == "silent":
            stop.wait(LIMIT)
            raw.close()
        else:
            report["hello"] = str(len(raw.recv(4096)))
            reset(raw) if mode == "hsreset" else raw.close()
        report["state"] = "done"
        return
    try:
        # A bare TCP end must read as such, not as close_notify.
        conn = ctx.wrap_socket(raw, server_side=True, suppress_ragged_eofs=False)
    except (ssl.SSLError, OSError) as e:
        report["state"] = "handshake-failed:" + type(e).__name__
        raw.close()
        return
    report["version"] = conn.version()
    report["reused"] = "1" if conn.session_reused else "0"
    if mode in ("echo", "sink", "slowsink"):
        if mode == "slowsink":
            stop.wait(0.5)  # the client's sending has to wait meanwhile
        read_to_end(conn, report, mode == "echo")
        if report.get("end") == "notify":
            send_notify(conn)
        else:
            conn.close()
    else:
        conn.sendall(b"one\r\ntwo\r\n" if mode == "twolines" else b"hello\n")
        try:
            conn.recv(1)
        except (ssl.SSLError, OSError):
            pass
        if mode in ("notify", "twolines"):
            send_notify(conn)
        elif mode == "fin":
            conn.close()  # no close_notify: Python sends none on close
        else:
            reset(conn)
    report["state"] = "done"


def main():
    control = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
    control.settimeout(None)
    folder = tempfile.mkdtemp(prefix="roderuv-tlspeer-")
    stop = threading.Event()
    try:
        ctxs, announced = {}, []
        for name in ("a", "b"):
            cert, key, fingerprint, der = make_certificate(folder, name)
            ctxs[name] = contexts(cert, key)
            announced += [fingerprint, cert, der]
        io = control.makefile("rwb", buffering=0)
        io.write(("READY %s\n" % " ".join(announced)).encode())
        last = None
        for line in io:
            words = line.decode().split()
            if not words:
                continue
            if words[0] == "SERVE" and len(words) == 4 and words[3] in ctxs:
                listener = socket.socket()
                listener.bind(("127.0.0.1", 0))
                listener.listen(1)
                report = {"state": "running"}
                worker = threading.Thread(target=serve_one, daemon=True,
                                          args=(listener, words[1], ctxs[words[3]][words[2]], report,
                                                stop))
                worker.start()
                last = (worker, report)
                io.write(("PORT %d\n" % listener.getsockname()[1]).encode())
            elif words[0] == "WAIT" and last:
                last[0].join(LIMIT)
                io.write(("DONE " + " ".join("%s=%s" % kv for kv in last[1].items()) + "\n")
                         .encode())
            else:
                io.write(b"ERROR unknown command\n")
    finally:
        stop.set()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
