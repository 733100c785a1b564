#!/usr/bin/env python3
"""A small proxy on loopback for the tests: HTTP (absolute-form requests and
CONNECT, optionally asking for Basic credentials with 407), SOCKS5 (no
authentication, names resolved here) or SOCKS4 (and 4a's names). Prints its port on the first line of
standard output, then appends one line per request to the log file:

  http:  "GET http://host:port/path"  "CONNECT host:port"  "407 <request>"
  socks, socks4: "SOCKS host:port GET /path" (the tunnel's first request line)
         "REFUSED host:port"
"""
import argparse
import base64
import socket
import sys
import threading

log_lock = threading.Lock()


def note(args, line):
    with log_lock:
        with open(args.log, "a", encoding="utf-8") as out:
            out.write(line + "\n")


def pump(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        for s in (sink,):
            try:
                s.shutdown(socket.SHUT_WR)
            except OSError:
                pass


def relay(a, b, first=b""):
    if first:
        b.sendall(first)
    other = threading.Thread(target=pump, args=(b, a), daemon=True)
    other.start()
    pump(a, b)
    other.join(60)
    a.close()
    b.close()


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1").split("\r\n"), rest


def split_host(authority, default_port):
    if authority.startswith("["):
        host, _, port = authority[1:].partition("]:")
        return host, int(port or default_port)
    host, _, port = authority.rpartition(":")
    if not host:
        return authority, default_port
    return host, int(port)


def serve_http(args, conn):
    lines, rest = read_head(conn)
    if not lines:
        conn.close()
        return
    method, target, version = lines[0].split(" ", 2)
    headers = lines[1:]
    if args.user is not None:
        expected = "Basic " + base64.b64encode(
            (args.user + ":" + args.password).encode()).decode()
        given = [h.split(":", 1)[1].strip() for h in headers
                 if h.lower().startswith("proxy-authorization:")]
        if given != [expected]:
            note(args, "407 " + method + " " + target)
            conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                         b"Proxy-Authenticate: Basic realm=\"test\"\r\n"
                         b"Content-Length: 0\r\nConnection: close\r\n\r\n")
            conn.close()
            return
    note(args, method + " " + target)
    if method == "CONNECT":
        if args.refuse:
            conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            conn.close()
            return
        upstream = socket.create_connection(split_host(target, 443))
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        relay(conn, upstream, rest)
        return
    if not target.startswith("http://"):
        conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
        conn.close()
        return
    authority, _, path = target[7:].partition("/")
    upstream = socket.create_connection(split_host(authority, 80))
    kept = [h for h in headers
            if not h.lower().startswith(("proxy-", "connection:"))]
    head = "\r\n".join([method + " /" + path + " " + version] + kept +
                       ["Connection: close", "", ""])
    relay(conn, upstream, head.encode("latin-1") + rest)


def read_exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise OSError("short")
        data += chunk
    return data


def serve_socks(args, conn):
    version, methods = read_exact(conn, 2)
    offered = read_exact(conn, methods)
    if version != 5 or 0 not in offered:
        conn.sendall(b"\x05\xff")
        conn.close()
        return
    conn.sendall(b"\x05\x00")
    _, command, _, kind = read_exact(conn, 4)
    if kind == 1:
        host = socket.inet_ntoa(read_exact(conn, 4))
    elif kind == 3:
        host = read_exact(conn, read_exact(conn, 1)[0]).decode("latin-1")
    else:
        host = socket.inet_ntop(socket.AF_INET6, read_exact(conn, 16))
    port = int.from_bytes(read_exact(conn, 2), "big")
    if command != 1 or args.refuse:
        note(args, "REFUSED %s:%d" % (host, port))
        conn.sendall(b"\x05\x02\x00\x01\x00\x00\x00\x00\x00\x00")
        conn.close()
        return
    upstream = socket.create_connection((host, port))
    conn.sendall(b"\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00")
    first = conn.recv(65536)
    request = first.split(b"\r\n", 1)[0].decode("latin-1").rsplit(" ", 1)[0]
    note(args, "SOCKS %s:%d %s" % (host, port, request))
    relay(conn, upstream, first)


def serve_socks4(args, conn):
    version, command = read_exact(conn, 2)
    port = int.from_bytes(read_exact(conn, 2), "big")
    address = read_exact(conn, 4)

    def text():
        data = b""
        while not data.endswith(b"\0"):
            data += read_exact(conn, 1)
        return data[:-1].decode("latin-1")

    text()  # the user id
    if address[:3] == b"\0\0\0" and address[3] != 0:
        host = text()
    else:
        host = socket.inet_ntoa(address)
    if version != 4 or command != 1 or args.refuse:
        note(args, "REFUSED %s:%d" % (host, port))
        conn.sendall(b"\0\x5b" + bytes(6))
        conn.close()
        return
    upstream = socket.create_connection((host, port))
    conn.sendall(b"\0\x5a" + bytes(6))
    first = conn.recv(65536)
    request = first.split(b"\r\n", 1)[0].decode("latin-1").rsplit(" ", 1)[0]
    note(args, "SOCKS %s:%d %s" % (host, port, request))
    relay(conn, upstream, first)


def handle(args, conn):
    try:
        serve = serve_socks4 if args.socks4 else serve_socks if args.socks else serve_http
        serve(args, conn)
    except OSError:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--socks", action="store_true")
    parser.add_argument("--socks4", action="store_true")
    parser.add_argument("--refuse", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    args = parser.parse_args()
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    print(server.getsockname()[1], flush=True)
    sys.stdout.close()
    while True:
        conn, _ = server.accept()
        threading.Thread(target=handle, args=(args, conn), daemon=True).start()


if __name__ == "__main__":
    main()
