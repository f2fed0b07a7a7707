#!/usr/bin/env python3
"""The server side alone: one GET read by a trivial client that discards the answer
with reads of 1 MiB (TLS without certificate checks for https). Prints the received
bytes per second, from the connect to the server's close, in MiB/s."""
import socket
import ssl
import sys
import time
import urllib.parse


def main():
    url = urllib.parse.urlsplit(sys.argv[1])
    target = url.path + ("?" + url.query if url.query else "")
    start = time.monotonic()
    sock = socket.create_connection((url.hostname, url.port))
    if url.scheme == "https":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        sock = context.wrap_socket(sock)
    sock.sendall(f"GET {target} HTTP/1.1\r\nHost: {url.hostname}\r\nConnection: close\r\n\r\n".encode())
    buffer = memoryview(bytearray(1 << 20))
    total = 0
    while True:
        n = sock.recv_into(buffer)
        if n == 0:
            break
        total += n
    seconds = time.monotonic() - start
    print(f"{total / seconds / 1048576:.0f}")


if __name__ == "__main__":
    main()
