#!/usr/bin/env python3
"""A web agent for tests and demos: the server side that gateways (OVG) and
controller clients (OVC) meet at, speaking the same HTTP/1.0 GET protocol as
the real web agent scripts.

    webagent.py [--key TEXT] [--password TEXT] [--report HOST:PORT]
                [--listen ADDRESS] [--port N] [--show] [--log FILE]

Listens on a free port of 127.0.0.1 (or --listen ADDRESS, for a test
namespace; --port N for a fixed port). Without --report it prints "port N"
on standard output and runs until it is killed. With --report it connects
to HOST:PORT, sends "N\\n" there and runs until that connection closes, so a
test program that dies never leaves the agent behind.

--show prints one line per request that reports a gateway or a client (its
kind, id and decoded content); --log FILE appends every request to FILE as
one JSON object per line, the content of reports decoded with the key.

The first path segment of the request chooses a misbehaviour:
  nomarker    the reply lacks OV_SUPPORT (but has the usual return code)
  denied      the storage cannot be written ("Permission denied")
  denied-gbk  the same in Chinese
  servererror the script failed (22111 / 22121)
  oldcodes    a changed password is answered with the old code 212
  nocode      OV_SUPPORT and the address, no return code
  neverclose  the usual reply, then the connection stays open
  closeearly  the connection is reset instead of answered
  huge        the usual reply followed by 2 MiB of padding
  garbage     random bytes
  lowercase   records are handed back with their kind in lower case
  broken      records are handed back enciphered under another key
  truncated   the last record lacks its "#end"
  hang        the request is read and never answered (the connection stays
              open until the agent ends)
Any other path (e.g. /ovagent.php) is the normal agent.
"""

import argparse
import json
import os
import random
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import des  # noqa: E402

MODES = {"nomarker", "denied", "denied-gbk", "servererror", "oldcodes", "nocode",
         "neverclose", "closeearly", "huge", "garbage", "lowercase", "broken", "truncated",
         "hang"}
HEAD = b"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
MAX_REQUEST = 16384


def parse_query(query):
    """Nothing in these URLs is escaped: plain & and = splitting."""
    out = {}
    for item in query.split(b"&"):
        if item:
            k, _, v = item.partition(b"=")
            out.setdefault(k.decode("latin-1"), v)
    return out


def parse_payload(plain):
    fields = {}
    for item in plain.split(b"&"):
        if item:
            k, _, v = item.partition(b"=")
            fields[k.decode("latin-1")] = v
    return fields


def dotted(number):
    return socket.inet_ntoa(struct.pack("!I", number & 0xFFFFFFFF)).encode()


class Agent:
    def __init__(self, key, password, show=False, log=None):
        self.key = key
        self.password = password
        self.show = show
        self.log = log
        self.lock = threading.Lock()
        self.gateways = {}  # computer id (hex) -> payload
        self.clients = {}
        self.flags = {}     # client id -> gateway id it asked for
        self.stopping = threading.Event()

    # -- storage -------------------------------------------------------
    def store(self, kind, cid, content, caller):
        fields = parse_payload(des.decode(content, self.key))
        if "time" not in fields or "internetmode" not in fields:
            return False
        try:
            wan = int(fields.get("wanip", b"0") or b"0")
        except ValueError:
            wan = 0
        payload = b"".join([
            b"&time=", fields.get("time", b""),
            b"&internetmode=", fields.get("internetmode", b""),
            b"&wanip=", dotted(wan) if wan else caller.encode(),
            b"&cmdport=", fields.get("cmdport", b""),
            b"&computername=", fields.get("computername", b""),
        ])
        with self.lock:
            (self.gateways if kind == b"OVG" else self.clients)[cid] = payload
        return True

    def block(self, kind, cid, payload, mode):
        key = b"not the shared key" if mode == "broken" else self.key
        if mode == "lowercase":
            kind = kind.lower()
        return (b"#contentbegin&ovtype=" + kind + b"&computerid=" + cid +
                b"&content=" + des.encode(payload, key) + b"#end<br>\r\n")

    def records(self, kind, requester, mode):
        with self.lock:
            if kind == b"OVG":
                chosen = list(self.gateways.items())
            else:
                chosen = [(c, p) for c, p in self.clients.items()
                          if self.flags.get(c) == requester]
        out = b"".join(self.block(kind, c, p, mode) for c, p in chosen)
        if mode == "truncated" and out:
            out = out[:out.rfind(b"#end")]
        return out

    # -- the operations ------------------------------------------------
    def answer(self, mode, q, caller):
        func = q.get("funcid", q.get("functionid", b"")).decode("latin-1")
        if mode == "denied":
            return b"Warning: fopen(data/ovg.dat): failed to open stream: Permission denied<br>"
        if mode == "denied-gbk":
            return "没有权限<br>".encode("gbk")
        if func == "1":
            return self.change_password(mode, q)
        if func in ("2", "3"):
            return self.update(mode, func, q, caller)
        if func in ("4", "5"):
            return self.flag(mode, func, q)
        return b""

    def change_password(self, mode, q):
        if mode == "servererror":
            return b"returncode=22111<br>"
        if mode == "nocode":
            return b""
        if q.get("submitpassword", b"") != self.password:
            return b"returncode=222<br>"
        self.password = q.get("newpassword", b"")
        return b"returncode=212<br>" if mode == "oldcodes" else b"returncode=22112<br>"

    def update(self, mode, func, q, caller):
        wan = b"wan=" + caller.encode() + b"<br>\r\n"
        if mode == "nocode":
            return wan
        if mode == "servererror":
            return wan + b"returncode=22121<br>"
        if q.get("pwd", b"") != self.password:
            return wan + b"returncode=222<br>"
        kind = q.get("ovtype", b"")
        cid = q.get("computerid", b"")
        if kind not in (b"OVG", b"OVC") or not self.store(kind, cid, q.get("content", b""), caller):
            return wan + b"returncode=22121<br>"
        body = wan + b"returncode=22122<br>\r\n"
        if func == "2":
            return body + self.records(b"OVG", cid, mode)
        return body + self.records(b"OVC", cid, mode)

    def flag(self, mode, func, q):
        if mode == "servererror":
            return b"returncode=22121<br>"
        if mode == "nocode":
            return b""
        if q.get("pwd", b"") != self.password:
            return b"returncode=222<br>"
        client, gateway = q.get("computerid", b""), q.get("ovgcomputerid", b"")
        with self.lock:
            if func == "5":
                self.flags[client] = gateway
                return b"returncode=22112<br>"
            if client not in self.clients:
                return b"returncode=wrong ovc msg<br>"
            if self.flags.get(client) != gateway:
                return b"returncode=wrong ovg id<br>"
            del self.flags[client]
            return b"returncode=22112<br>"

    # -- what was asked ------------------------------------------------
    def record(self, caller, path, mode, q):
        if not self.show and not self.log:
            return
        text = lambda b: b.decode("gbk", "replace")
        entry = {"time": time.time(), "caller": caller, "path": text(path), "mode": mode,
                 "query": {k: text(v) for k, v in q.items()}}
        if "content" in q and q.get("funcid") in (b"2", b"3"):
            fields = parse_payload(des.decode(q["content"], self.key))
            entry["fields"] = {k: text(v) for k, v in fields.items()}
        with self.lock:
            if self.log:
                with open(self.log, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry, ensure_ascii=False) + "\n")
            if self.show and "fields" in entry:
                print("%s %s id=%s %s %s" % (
                    time.strftime("%H:%M:%S"), entry["query"].get("ovtype", "?"),
                    entry["query"].get("computerid", ""), entry["path"],
                    " ".join("%s=%s" % kv for kv in entry["fields"].items())), flush=True)

    # -- the connection ------------------------------------------------
    def serve(self, conn, caller):
        try:
            conn.settimeout(30)
            request = b""
            while b"\r\n\r\n" not in request and len(request) < MAX_REQUEST:
                piece = conn.recv(4096)
                if not piece:
                    return
                request += piece
            line = request.split(b"\r\n", 1)[0].split(b" ")
            target = line[1] if len(line) >= 3 and line[0] == b"GET" else b"/"
            path, _, query = target.partition(b"?")
            first = path.lstrip(b"/").split(b"/", 1)[0].decode("latin-1")
            mode = first if first in MODES else "normal"
            self.record(caller, path, mode, parse_query(query))
            if mode == "hang":
                self.stopping.wait()
                return
            if mode == "closeearly":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            if mode == "garbage":
                rng = random.Random(len(request))
                junk = bytes(rng.randrange(256) for _ in range(3000))
                conn.sendall(junk.replace(b"OV_SUPPORT", b"xx"))
                return
            body = self.answer(mode, parse_query(query), caller)
            if mode != "nomarker":
                body = b"OV_SUPPORT<br>\r\n" + body
            conn.sendall(HEAD + body)
            if mode == "huge":
                pad = b"<!-- padding -->" * 1024
                for _ in range(128):
                    conn.sendall(pad)
            if mode == "neverclose":
                self.stopping.wait()
        except OSError:
            pass
        finally:
            conn.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--key", default="", help="shared key text (empty: the default key text)")
    ap.add_argument("--password", default="", help="the web agent's password")
    ap.add_argument("--listen", default="127.0.0.1", help="address to listen on")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: a free one)")
    ap.add_argument("--report", help="HOST:PORT to send the listening port to")
    ap.add_argument("--show", action="store_true", help="print each report on standard output")
    ap.add_argument("--log", help="append each request to this file as a JSON line")
    args = ap.parse_args()

    agent = Agent(args.key.encode("gbk"), args.password.encode("gbk"), args.show, args.log)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((args.listen, args.port))
    server.listen(64)
    port = server.getsockname()[1]

    def watch(read):
        # Whoever started us has gone: stop.
        try:
            while read():
                pass
        except OSError:
            pass
        agent.stopping.set()
        os._exit(0)

    if args.report:
        host, _, rport = args.report.rpartition(":")
        control = socket.create_connection((host, int(rport)), timeout=30)
        control.settimeout(None)
        control.sendall(b"%d\n" % port)
        threading.Thread(target=watch, args=(lambda: control.recv(64),), daemon=True).start()
    else:
        print("port %d" % port, flush=True)

    while True:
        conn, addr = server.accept()
        threading.Thread(target=agent.serve, args=(conn, addr[0]), daemon=True).start()


if __name__ == "__main__":
    main()
